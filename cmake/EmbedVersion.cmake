# corvane_embed_version(target): puts the project version into the executable as an ELF note
# (owner "Corvane", type "VERS", four 16-bit numbers) that get_file_version reads back.
function(corvane_embed_version target)
    set(CORVANE_VERSION_NOTE_SRC ${CMAKE_BINARY_DIR}/corvane_version_note.cpp)
    set(v0 ${PROJECT_VERSION_MAJOR})
    set(v1 ${PROJECT_VERSION_MINOR})
    set(v2 ${PROJECT_VERSION_PATCH})
    set(v3 ${PROJECT_VERSION_TWEAK})
    foreach(v v0 v1 v2 v3)
        if("${${v}}" STREQUAL "")
            set(${v} 0)
        endif()
    endforeach()
    file(CONFIGURE OUTPUT ${CORVANE_VERSION_NOTE_SRC} CONTENT
"// Generated: the file version as an ELF note.
#include <cstdint>
namespace {
struct VersionNote { std::uint32_t namesz, descsz, type; char name[8]; std::uint16_t v[4]; };
}
__attribute__((section(\".note.corvane.version\"), used, aligned(4)))
const VersionNote corvane_version_note = {8, 8, 0x56455253, \"Corvane\", {${v0}, ${v1}, ${v2}, ${v3}}};
")
    target_sources(${target} PRIVATE ${CORVANE_VERSION_NOTE_SRC})
endfunction()
