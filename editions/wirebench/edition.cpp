// Wirebench: the played devices and the byte spy for the comm plug-ins,
// inside the host. Identification texts and the catalogue, which drives
// registration, dispatch and the edit answers.
#include "editions/wirebench/bench_actions.h"
#include "plugin/catalogue.h"

namespace wl {
namespace {

const CatalogueEntry kCatalogue[] = {
    {0, "Wirebench", nullptr, nullptr},
    {1, "wbPlay",
     "wbPlay 'port,file' Play the device a file describes on a port (COM1) or a TCP server "
     "(127.0.0.7:5000); no file gives the port back",
     wirebench::wbPlay},
    {2, "wbSpy", "wbSpy 'file' Add every byte of the comm plug-ins to a file; '' ends it",
     wirebench::wbSpy},
    {3, "wbSpyToDevice",
     "wbSpyToDevice 'log,port,file' Write the device file that answers as the device in a spy log did",
     wirebench::wbSpyToDevice},
};

const Edition kWirebench = {
    "Wirebench V1.0.0.0 PlugIn",
    "Norvale",
    "Played devices and a byte spy for the Wirelet and Quillport plug-ins.",
    kCatalogue,
    sizeof kCatalogue / sizeof kCatalogue[0],
    wirebench::Unload,
};

}  // namespace

const Edition& ThisEdition() { return kWirebench; }

}  // namespace wl
