#include "app/descriptions.h"

namespace kelvane {
namespace {

struct Row {
    std::int32_t flag;
    const char16_t* text;
};

// Flag values follow the platform's published WAVE_FORMAT_* constants.
constexpr Row kFormats[] = {
    {1, u"11.025Khz,Mono,8bit,11Kb/Ps"},   {2, u"11.025Khz,Stereo,8bit,22Kb/Ps"},
    {4, u"11.025Khz,Mono,16bit,22Kb/Ps"},  {8, u"11.025Khz,Stereo,16bit,43Kb/Ps"},
    {16, u"22.05Khz,Mono,8bit,22Kb/Ps"},   {32, u"22.05Khz,Stereo,8bit,43Kb/Ps"},
    {64, u"22.05Khz,Mono,16bit,43Kb/Ps"},  {128, u"22.05Khz,Stereo,16bit,86Kb/Ps"},
    {256, u"44.1Khz,Mono,8bit,43Kb/Ps"},   {512, u"44.1Khz,Stereo,8bit,86Kb/Ps"},
    {1024, u"44.1Khz,Mono,16bit,86Kb/Ps"}, {2048, u"44.1Khz,Stereo,16bit,172Kb/Ps"},
};

// Flag values follow the platform's published WAVECAPS_* constants.
constexpr Row kFeatures[] = {
    {1, u"Support Pitch"},
    {2, u"Support Playback"},
    {4, u"Support Volume Control"},
    {8, u"Support Left-Right Channals"},
    {16, u"Support Synchronization"},
};

template <std::size_t N>
std::u16string Lookup(const Row (&table)[N], std::int32_t flag) {
    for (const Row& row : table) {
        if (row.flag == flag) {
            return row.text;
        }
    }
    return {};
}

}  // namespace

std::u16string Listwaveformat(std::int32_t Aboutwave) {
    return Lookup(kFormats, Aboutwave);
}

std::u16string Listwavesupport(std::int32_t Aboutwave) {
    return Lookup(kFeatures, Aboutwave);
}

}  // namespace kelvane
