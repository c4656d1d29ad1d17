#pragma once
// Connects the package screens to the rest of the program: a "show" link of
// our scheme presents the package's details in a navigation controller with
// "Close". The application delegate calls install() at launch.
class ZMDetailsScreensSetup {
public:
    static void install();
};
