#pragma once

// How the program's functions trace themselves:
//
//   KVD_TRACE_SOURCE();                       // once per .cpp, at namespace scope
//   void CFoo::Bar() {
//     KVD_SCOPE(L"CFoo::Bar");                // first statement of every function
//     KVD_LOG(DUDiduzuz::kind::Info, L"Scanner found : %s", name);   // data only as arguments
//     KVD_LOG_TEXT(DUDiduzuz::kind::Debug, readyText);                // ready text, never a format
//     KVD_LOG_FAILED_CALL(L"RegOpenKeyExW", status, keyPath);        // a failed call
//   }

#include "logging/DUDiduzuz.h"

#define KVD_TRACE_SOURCE() static const ::DUDiduzuz::CLogSourceFile kvdLogSourceFile_(__FILE__)

#define KVD_SCOPE(name) ::DUDiduzuz::CLogFunction kvdLogScope_(kvdLogSourceFile_, name, __LINE__)

#define KVD_LOG(kind, ...) kvdLogScope_.Log(__LINE__, kind, __VA_ARGS__)

#define KVD_LOG_TEXT(kind, text) kvdLogScope_.LogText(__LINE__, kind, text)

// A failed system or registry call as the conventions want it: a debug record with the call's
// name and code, ending with the key or file path it was given.
#define KVD_LOG_FAILED_CALL(call, code, path)                                             \
  kvdLogScope_.Log(__LINE__, ::DUDiduzuz::kind::Debug, L"%s failed - %d. Path: %s", call, \
                   static_cast<std::int32_t>(code), path)
