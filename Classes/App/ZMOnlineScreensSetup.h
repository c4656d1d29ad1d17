#pragma once
// Connects the screens of the maker's service to the rest of the program:
// the search screen's services (OnlineSearchServices), the repository page
// and directory that the search and Sections screens open, the store list of
// the account page, and the sign-in step of the first-run flow
// (LoginViewController), and the purchases a signed-in source screen reads
// again at every rebuild. ZMApplication calls install() at launch;
// uninstall() restores the stand-ins.
class ZMOnlineScreensSetup {
public:
    static void install();
    static void uninstall();
};
