// The store's reader on any bytes: never a memory error, and whatever it reads formats to a
// file that reads back whole and equal, with every value found through the index.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_format.h"

namespace reg = lumora::platform::reg;

namespace {

bool same(const reg::Document& a, const reg::Document& b) {
    if (a.keys.size() != b.keys.size())
        return false;
    for (std::size_t k = 0; k < a.keys.size(); ++k) {
        const reg::Key& x = a.keys[k];
        const reg::Key& y = b.keys[k];
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (std::size_t v = 0; v < x.values.size(); ++v) {
            if (x.values[v].name != y.values[v].name || x.values[v].type != y.values[v].type ||
                x.values[v].data != y.values[v].data)
                return false;
        }
    }
    return true;
}

bool indexed(const reg::Document& doc) {
    for (const reg::Key& key : doc.keys) {
        for (const reg::Value& value : key.values) {
            if (doc.find(key.path, value.name) != &value)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const reg::Reading reading = reg::read(text);
    if (!indexed(reading.document))
        std::abort();
    const auto back = reg::parse(reg::format(reading.document));
    if (!back || !same(*back, reading.document) || !indexed(*back))
        std::abort();
    return 0;
}
