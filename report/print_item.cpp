#include "report/print_item.h"

#include "report/decimal.h"

namespace kelvane {

std::u16string RenderItem(const PrintItem& item) {
    if (const auto* text = std::get_if<std::u16string>(&item)) {
        return *text;
    }
    const std::int32_t number = std::holds_alternative<std::int16_t>(item)
                                    ? std::get<std::int16_t>(item)
                                    : std::get<std::int32_t>(item);
    return SignedDecimal(number) + u' ';
}

std::u16string RenderStatement(const PrintStatement& statement) {
    std::u16string line;
    for (const PrintItem& item : statement) {
        line += RenderItem(item);
    }
    return line;
}

}  // namespace kelvane
