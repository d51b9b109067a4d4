// Asks the names of the addresses given, as the survey does, and prints "address<TAB>source<TAB>name"
// (name bytes outside printable ASCII as \xHH). The namespace test runs it with "ip netns exec",
// which gives it the namespace's own resolv.conf.
#include "discovery/NameQuery.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    using namespace corvane::discovery;
    name_query_options o;
    std::vector<std::uint32_t> addresses;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            o.timeout_ms = std::atoi(argv[++i]);
            continue;
        }
        in_addr a {};
        if (::inet_pton(AF_INET, argv[i], &a) != 1) {
            std::fprintf(stderr, "not an address: %s\n", argv[i]);
            return 2;
        }
        addresses.push_back(a.s_addr);
    }
    for (const auto& [address, names] : ask_names(addresses, o)) {
        char text[INET_ADDRSTRLEN];
        in_addr a {address};
        ::inet_ntop(AF_INET, &a, text, sizeof text);
        for (const found_name& n : names) {
            std::printf("%s\t%s\t", text, name_source_word(n.source));
            for (char c : n.name) {
                const auto b = static_cast<unsigned char>(c);
                if (b >= 0x20 && b < 0x7F && b != '\\')
                    std::putchar(c);
                else
                    std::printf("\\x%02X", b);
            }
            std::putchar('\n');
        }
    }
    return 0;
}
