// libFuzzer target: read_ptr_answer on any bytes must stay inside them, end, and give a sound result.
#include "discovery/DnsMessage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return -1; // datagrams are far smaller; keep the corpus to what a socket can deliver
    // The seeds ask for 10.99.0.1, as the Avahi answer captured in a namespace does.
    static const QByteArray asked("1.0.99.10.in-addr.arpa");
    const auto answer = corvane::discovery::read_ptr_answer(data, size, asked);
    if (!answer)
        return 0;
    const char* why = nullptr;
    if (size < 12 || !(data[2] & 0x80))
        why = "a message that is no response was read";
    else if (answer->id != ((data[0] << 8) | data[1]) || answer->rcode != (data[3] & 0x0F))
        why = "id or rcode not those of the header";
    else if (answer->names.size() > static_cast<std::size_t>((data[6] << 8) | data[7]))
        why = "more names than answer records";
    for (const QByteArray& name : answer->names)
        if (name.size() > 254) // 255 bytes on the wire: the labels and their lengths, and the final zero
            why = "a name past the 255-byte bound";
    if (why) {
        std::fprintf(stderr, "read_ptr_answer on %zu bytes: %s\n", size, why);
        std::abort();
    }
    return 0;
}
