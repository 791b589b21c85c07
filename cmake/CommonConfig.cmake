# One INTERFACE target that carries warnings and Qt's safety defines for every target.
add_library(talvino_options INTERFACE)
target_compile_options(talvino_options INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(talvino_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_URL_CAST_FROM_STRING
    QT_USE_QSTRINGBUILDER)
target_include_directories(talvino_options INTERFACE ${PROJECT_SOURCE_DIR})

# TALVINO_SANITIZE: the -fsanitize= list for every target, empty for none.
if(TALVINO_SANITIZE)
    target_compile_options(talvino_options INTERFACE -fsanitize=${TALVINO_SANITIZE} -fno-omit-frame-pointer -g)
    target_link_options(talvino_options INTERFACE -fsanitize=${TALVINO_SANITIZE})
endif()
