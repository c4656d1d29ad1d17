#pragma once
// The repository stores' "sileo://" callback scheme. The web engine must know
// it before the QApplication exists (the application's main and the GUI
// tests' main call registerScheme() first), so that a page's navigation to it
// is asked about (VostrelleWebPage) instead of being handed to the desktop.
// Nothing loads from it: the store pages catch their own top-level
// navigations to it, and every profile refuses the rest.
class ZMStoreCallbackSchemeHandler {
public:
    static constexpr const char* kScheme = "sileo";
    static void registerScheme();
};
