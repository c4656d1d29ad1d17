#pragma once
// Device-owner authentication before a package-management task — adding or
// removing a source while "AuthenticationForPackagesManagementTasks" is on:
// LAContext's password check, and the "Vostrelle Authentication" alert when
// the check fails or cannot run on this machine.
#include <functional>
#include <string>

class ZMRSources;

class ZMDeviceOwnerAuthentication {
public:
    // Asks with `reason`. `completion` (main thread) gets YES only after a
    // successful check; a failed or unavailable check shows its alert first.
    static void authenticate(const std::string& reason, std::function<void(bool)> completion);
    // Makes authenticate() the source collection's authentication hook, so
    // that every way of adding a source (form, pasteboard, links) asks.
    static void installInto(ZMRSources& sources);
};
