#pragma once
// The application's composition, above every screen folder: what main() does
// once the QApplication exists, the launch, the services every screen uses
// and the window with the five tabs.
//
// The rule: every service, hook and factory is installed before the first
// screen is built (installServices() runs before the window is made), so no
// screen ever meets a stand-in that the launch replaces later.
//
// The launch (applicationDidFinishLaunching), on the main thread:
//   the delegate's steps "shortcuts" to "observers" (ZMVostrelle), which
//   clean up and open the database before anything reads it;
//   installServices();
//   "darkMode" (the palette and the bars' providers);
//   the window with the five tabs (their screens built now);
//   "sourceRefresh"; the window shown; the news check; "repair".
#include <QStringList>

class ZMApplication {
public:
    // What main() does between making the QApplication and running its loop:
    // the main thread's executor, one Vostrelle per user and data directory
    // (a second start hands `arguments`, argv without the program, to the
    // running one and start() answers false: main() ends), termination when
    // the loop ends, the launch, then the links and files of `arguments`.
    // Tests start the application with this same function.
    static bool start(const QStringList& arguments);

    // What main() does once the loop has ended, before the QApplication
    // goes: the texts being built off the GUI thread are told to stop, and
    // their thread is waited for (what cannot stop half-way, Qt's HTML
    // import, ends first), so that nothing it uses, QApplication and its
    // thread-local font caches among it, is destroyed under it. Blocks
    // posted to the ended loop are dropped (not run) while all is whole.
    // Returns `status`; a build that outlasts ZMDepictionBudget::kLongestStop
    // ends the process here with `status`, without tearing anything down.
    static int finish(int status);

    // The launch (see above); runs once per delegate.
    static void applicationDidFinishLaunching();

    // Every hook, factory and service the screens and the core call, in one
    // list (the comments name what each fills).
    static void installServices();

    // The add-source shortcut: selects the Manage tab, pops it to its root and
    // sends it addSource().
    static void showAddSource();

    // The news list with "Close", presented over the top-most screen (what
    // answering the news notification does).
    static void showNewsVC();
};
