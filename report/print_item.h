// What one print statement of the report is made of, and the text it draws.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kelvane {

// Items of a statement follow each other with no gap; the statement ends
// with a line break.
using PrintItem = std::variant<std::u16string, std::int16_t, std::int32_t>;
using PrintStatement = std::vector<PrintItem>;

// Text is drawn as it is; a number as its sign position, digits and one
// trailing space, so 5 draws " 5 " and -3 draws "-3 ".
std::u16string RenderItem(const PrintItem& item);
std::u16string RenderStatement(const PrintStatement& statement);

}  // namespace kelvane
