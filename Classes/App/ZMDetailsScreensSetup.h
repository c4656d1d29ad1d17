#pragma once
// Connects the package screens to the rest of the program: a "show" link of
// our scheme presents the package's details in a navigation controller with
// "Close". ZMApplication calls install() at launch.
class ZMDetailsScreensSetup {
public:
    static void install();
};
