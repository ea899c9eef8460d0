#include "expectations.h"

namespace e2e {

const std::wstring kFound = L"已找到声卡，声卡运行良好",
                   kNotFound = L"没找到声卡，可能没安装驱动程序";

std::string record(const std::string& name, int pid, int mid, int version, int formats,
                   int channels, int support) {
    std::string r(52, '\0');
    auto put = [&r](size_t at, int v, int n) {
        for (int i = 0; i < n; ++i) {
            r[at + i] = char(unsigned(v) >> (8 * i));
        }
    };
    put(0, mid, 2), put(2, pid, 2), put(4, version, 4), put(40, formats, 4);
    put(44, channels, 2), put(48, support, 4);
    return r.replace(8, name.size(), name);
}

void serve_device(unsigned count, unsigned rc, const std::string& bytes, unsigned open_rc) {
    std::string config = std::to_string(count) + " " + std::to_string(rc) + " ";
    for (unsigned char c : bytes) {
        config += "0123456789abcdef"[c >> 4], config += "0123456789abcdef"[c & 15];
    }
    // An empty record is "-", or the refusal would be read in its place.
    config += (bytes.empty() ? "- " : " ") + std::to_string(open_rc);
    write_file(device_file, config);
}

std::wstring acp_name(const std::string& bytes) {
    wchar_t wide[64] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), wide, 64);
    std::wstring name(wide, n > 32 ? 32 : n > 0 ? n : 0);
    return name.substr(0, name.find(L'\0'));
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Lines header(const std::wstring& name, const std::wstring& pid, const std::wstring& mid,
             const std::wstring& version, const std::wstring& channels) {
    return {L"产品名称：" + name + std::wstring(32 - name.size(), L' '),
            L"产品 Id：" + pid,
            L"驱动程序 Id：" + mid,
            L"驱动程序版本：" + version,
            L"输出声道：" + channels,
            L"支持格式列表："};
}

const Lines kAllFormats = {L"11.025Khz,Mono,8bit,11Kb/Ps",  L"11.025Khz,Stereo,8bit,22Kb/Ps",
                           L"11.025Khz,Mono,16bit,22Kb/Ps", L"11.025Khz,Stereo,16bit,43Kb/Ps",
                           L"22.05Khz,Mono,8bit,22Kb/Ps",   L"22.05Khz,Stereo,8bit,43Kb/Ps",
                           L"22.05Khz,Mono,16bit,43Kb/Ps",  L"22.05Khz,Stereo,16bit,86Kb/Ps",
                           L"44.1Khz,Mono,8bit,43Kb/Ps",    L"44.1Khz,Stereo,8bit,86Kb/Ps",
                           L"44.1Khz,Mono,16bit,86Kb/Ps",   L"44.1Khz,Stereo,16bit,172Kb/Ps"};
const Lines kAllFeatures = {L"Support Pitch", L"Support Playback", L"Support Volume Control",
                            L"Support Left-Right Channals", L"Support Synchronization"};
const Lines kNoFlags = {L"扩展输出功能列表："};
const Lines kSpeakers = header(L"Speakers", L" 100 ", L" 1 ", L" 5 . 0 ", L" 2");
const Lines kWorked = kSpeakers + Lines{kAllFormats[0], kAllFormats[3], L"扩展输出功能列表：",
                                        kAllFeatures[2], kAllFeatures[3]};
const std::string kWorkedRecord = record("Speakers", 100, 1, 1280, 1 | 8, 2, 4 | 8);

}  // namespace e2e
