// resources/: language files, pictures, the resource script and the manifest. Every resource id
// of the program is defined here.
#pragma once

#define IDR_MAINFRAME 128
#define IDP_BANNER 147
