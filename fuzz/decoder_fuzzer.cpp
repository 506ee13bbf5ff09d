// libFuzzer target for one decoder of a user's file, chosen at build time by
// SONOREL_FUZZ_DECODER. A decoder must either refuse the bytes with a
// JsonDecodeError or give a value that survives its own encoding; a decoded
// snapshot must also go through the nine checks.

#include "diagnostics/diagnostics.h"
#include "model/model_json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace sonorel;

template <typename Decode, typename Encode>
void roundTrip(std::string_view input, Decode decode, Encode encode)
{
    try {
        const auto value = decode(input);
        if (!(decode(encode(value)) == value))
            std::abort();
    } catch (const JsonDecodeError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
#if SONOREL_FUZZ_DECODER == 1
    roundTrip(input, decodeSnapshot, [](const AudioSnapshot& snapshot) {
        Diagnostics::checks(snapshot, std::nullopt);
        return encodeSnapshot(snapshot);
    });
#elif SONOREL_FUZZ_DECODER == 2
    roundTrip(input, decodePreferredOutput, encodePreferredOutput);
#elif SONOREL_FUZZ_DECODER == 3
    roundTrip(input, decodeChanges, encodeChanges);
#elif SONOREL_FUZZ_DECODER == 4
    roundTrip(input, decodeActivityLog, encodeActivityLog);
#else
#error "SONOREL_FUZZ_DECODER names no decoder"
#endif
    return 0;
}
