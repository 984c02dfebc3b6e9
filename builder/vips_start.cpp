#include "builder/vips_start.h"

#include <vips/vips8>

#include <mutex>
#include <stdexcept>

namespace builder {

void ensure_vips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("quorvik-tool") != 0)
            throw std::runtime_error(std::string("cannot start libvips: ") + vips_error_buffer());
    });
}

std::string vips_first_line(const char* text) {
    std::string s(text ? text : "");
    const size_t nl = s.find('\n');
    if (nl != std::string::npos) s.resize(nl);
    return s;
}

}  // namespace builder
