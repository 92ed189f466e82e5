#pragma once

#include <cstdint>
#include <memory>

#include "platform/api/IFileSystem.h"
#include "platform/api/IXml.h"
#include "platform/sim/SimCommon.h"

namespace kvd::sim {

// XML documents of the simulated machine: a real parser (pugixml) over the machine's files,
// answering as the MSXML document does (see IXmlDocument).
class SimXml final : public platform::IXmlFactory {
 public:
  SimXml(SimCalls& calls, platform::IFileSystem& files) : calls_(calls), files_(files) {}
  platform::HResult CreateDocument(std::unique_ptr<platform::IXmlDocument>* document) override;

 private:
  SimCalls& calls_;
  platform::IFileSystem& files_;
};

}  // namespace kvd::sim
