#pragma once
// Which reader the details page asks for more than the index fields:
//   1. a source that publishes its own information file (isUsingInfoJson): none;
//   2. no network and the preference "GetCydiaPackageInfoFromDepiction" off: none;
//   3. a native depiction link: the native JSON depiction;
//   4. a package of one of the classic repositories: its HTML information page;
//   5. otherwise none.
#include <cstdint>
#include <string>

#include "Depictions/ZMDepictionSettings.h"

struct ZMDepictionChoice {
    enum class Reader { None, Native, ClassicPage };

    struct Inputs {
        bool sourceUsesInfoJson = false;
        bool fetchWhateverTheNetwork = false;  // the preference
        int64_t reach = 0;                     // 0 none, 1 cellular, 2 Wi-Fi
        std::string sileoDepiction;
        std::string sourceLocation;
    };

    static Reader decide(const Inputs& inputs, const ZMDepictionSettings& settings);
};
