#include "app/presence.h"

namespace kelvane {

Presence DecidePresence(std::int32_t deviceCount) {
    if (deviceCount > 0) {
        return {true, u"已找到声卡，声卡运行良好"};
    }
    return {false, u"没找到声卡，可能没安装驱动程序"};
}

}  // namespace kelvane
