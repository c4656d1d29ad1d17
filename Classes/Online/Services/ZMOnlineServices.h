#pragma once
// Plugs the maker-service clients into the hooks the rest of the core leaves
// for them. The shell calls these at launch; tests call them after resetting
// the shared services.
//
//   install()                  every refreshed source is reported to the
//                              repository directory (ZMSearchRepositories::
//                              addRepository); every verified archive is
//                              reported as a download (ZMStatistics)
//   installAccountSync(devs)   every follow change of that developer
//                              collection uploads the followed list
//                              (ZMFollowedDevelopers)
//   loadRepositoryDirectory()  the launch step: lists the directory once
#include "Database/ZMRDevelopers.h"

namespace ZMOnlineServices {
// Idempotent.
void install();
// Removes what install() added (tests).
void uninstall();
void installAccountSync(ZMRDevelopers& developers);
void loadRepositoryDirectory();
}  // namespace ZMOnlineServices
