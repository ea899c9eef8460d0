// Records no working driver sends but a faulty one could: the report must still come out whole
// and sane. reports() runs these after the ordinary records.
#include "expectations.h"
#include "report_cases.h"

namespace e2e {

std::vector<ReportCase> faulty_driver_cases() {
    const std::string lone_lead = record(std::string(31, 'A') + "\x81", 100, 1, 1280, 0, 2, 0);
    return {
        {L"every byte 0xFF", 0, std::string(52, '\xFF'),
         header(acp_name(std::string(32, '\xFF')), L"-1 ", L"-1 ", L" 0 .-1 ", L"-1") +
             kAllFormats + kNoFlags + kAllFeatures},
        {L"lone lead byte as byte 31, no NUL", 0, lone_lead,
         header(acp_name(lone_lead.substr(8, 32)), L" 100 ", L" 1 ", L" 5 . 0 ", L" 2") + kNoFlags},
        {L"name of only spaces", 0, record(std::string(32, ' '), 100, 1, 1280, 0, 2, 0),
         header(L"", L" 100 ", L" 1 ", L" 5 . 0 ", L" 2") + kNoFlags},
        {L"wChannels 0xFFFF", 0, record("Speakers", 100, 1, 1280, 0, -1, 0),
         header(L"Speakers", L" 100 ", L" 1 ", L" 5 . 0 ", L"-1") + kNoFlags},
        {L"query failing after a partial write", 6, kWorkedRecord.substr(0, 10),
         header(L"Sp", L" 100 ", L" 1 ", L" 5 . 0 ", L" 0") + kNoFlags},
    };
}

}  // namespace e2e
