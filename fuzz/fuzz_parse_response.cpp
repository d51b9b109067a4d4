// libFuzzer target: parse_response on any bytes must stay inside them and give a sound result.
#include "ParseChecks.h"

#include "netbios/netBios_procs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return -1; // datagrams are far smaller; keep the corpus to what a socket can deliver
    const auto length = static_cast<std::int32_t>(size);
    nb_status_result* r = parse_response(data, length);
    const std::string why = corvane::test::check_parse_result(data, length, r);
    release_result(r);
    if (!why.empty()) {
        std::fprintf(stderr, "parse_response on %zu bytes: %s\n", size, why.c_str());
        std::abort();
    }
    return 0;
}
