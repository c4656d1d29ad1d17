#include "Depictions/ZMDepictionChoice.h"

ZMDepictionChoice::Reader ZMDepictionChoice::decide(const Inputs& in, const ZMDepictionSettings& settings) {
    if (in.sourceUsesInfoJson) return Reader::None;
    if (!in.fetchWhateverTheNetwork && in.reach != 1 && in.reach != 2) return Reader::None;
    if (!in.sileoDepiction.empty()) return Reader::Native;
    if (settings.familyForSource(in.sourceLocation) != ZMDepictionSettings::Family::None) return Reader::ClassicPage;
    return Reader::None;
}
