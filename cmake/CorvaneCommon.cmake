# One place for warnings, Qt defines and sanitizer flags; every target links corvane_common.
add_library(corvane_common INTERFACE)
target_compile_options(corvane_common INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(corvane_common INTERFACE
    QT_NO_KEYWORDS
    QT_USE_QSTRINGBUILDER)
if(CORVANE_SANITIZE)
    target_compile_options(corvane_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=undefined)
    target_link_options(corvane_common INTERFACE -fsanitize=address,undefined)
endif()
