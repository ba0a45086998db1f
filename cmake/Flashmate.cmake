# Build rules shared by every target of the project.

# Warnings are errors everywhere; each library and program calls this on itself.
function(flashmate_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                         -Wno-sign-conversion -Wno-missing-field-initializers -Werror)
endfunction()

if(FLASHMATE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# flashmate_test(<name> LABEL <label> SOURCES <file>... LIBS <target>... [TIMEOUT <s>]
#                [ENVIRONMENT <VAR=value>...])
# One GoogleTest executable, its cases registered with CTest under one label: unit,
# integration, e2e, gui or slow; ENVIRONMENT is set for every case.
function(flashmate_test name)
  cmake_parse_arguments(T "" "TIMEOUT;LABEL" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  flashmate_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # The list travels through a generated script: its separators must stay escaped.
  string(REPLACE ";" "\\;" T_ENVIRONMENT "${T_ENVIRONMENT}")
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENVIRONMENT}"
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 30)
endfunction()
