#pragma once
// Where the program keeps its files. Each root can be moved by an environment
// variable (see README) or, in tests, by the setters below.
#include <string>

namespace ZMPaths {
// $VOSTRELLE_DATA_DIR, else $XDG_DATA_HOME/Vostrelle, else ~/.local/share/Vostrelle
std::string applicationSupport();
// $VOSTRELLE_LOG_DIR, else $XDG_STATE_HOME/me.zemtrix.vostrelle, else ~/.local/state/me.zemtrix.vostrelle
std::string logDirectory();
std::string logFile();  // logDirectory()/vostrelle.log
// The root packages are installed into: $VOSTRELLE_TARGET_ROOT, else "/".
std::string targetRoot();
// <targetRoot>/var/lib/dpkg
std::string dpkgDirectory();
// The program's read-only resources (string tables, plists, images):
// $VOSTRELLE_RESOURCES_DIR, else the build's resource directory.
std::string resourcesDirectory();

// A program of ours that runs beside this one (the helper, the web
// depictions' process): the build's copy at `builtPath` when it is there,
// else `name` in the directory of the running program.
std::string companionProgram(const std::string& builtPath, const std::string& name);

// Sub-directories of the application-support directory.
std::string subdirectory(const std::string& name);  // e.g. "IconCache"
std::string databaseFile();                          // default.realm
std::string preferencesFile();                       // me.zemtrix.vostrelle.plist
std::string aptTree();                               // APT

void setApplicationSupport(const std::string& path);
void setLogDirectory(const std::string& path);
void setTargetRoot(const std::string& path);
void setResourcesDirectory(const std::string& path);
// Tests: forgets what the setters above set; the environment rules again.
void resetForTesting();

// Creates a directory and its parents; true when it exists afterwards.
bool createDirectories(const std::string& path);
}  // namespace ZMPaths
