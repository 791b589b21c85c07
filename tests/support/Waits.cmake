# Run as a test (cmake -DSOURCE_DIR=<project> -P Waits.cmake): fails when a test, fuzzer or
# bench source uses one of Qt's test macros. Those report to QTest's result log, which nothing
# reads under GoogleTest, and return, so the test they stop passes; use the waits of Waits.h
# and GoogleTest's ASSERT_ and EXPECT_ instead. Only a use counts: the name followed by "(".
set(macro "QTRY_[A-Z_]+|QVERIFY[A-Z0-9_]*|QCOMPARE[A-Z_]*|QFAIL|QSKIP|QEXPECT_FAIL|QFETCH|QTEST")
set(use "(^|[^A-Za-z0-9_])(${macro})[ \t]*\\(")

file(GLOB_RECURSE sources LIST_DIRECTORIES false
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h
    ${SOURCE_DIR}/fuzz/*.cpp ${SOURCE_DIR}/fuzz/*.h
    ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h)
list(LENGTH sources count)
if(count LESS 100)
    message(FATAL_ERROR "found only ${count} sources under ${SOURCE_DIR}")
endif()

set(found "")
foreach(source IN LISTS sources)
    file(STRINGS ${source} lines REGEX "${use}")
    foreach(line IN LISTS lines)
        file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
        string(STRIP "${line}" line)
        string(APPEND found "\n  ${name}: ${line}")
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "Qt's test macros do not report to GoogleTest; use tests/support/Waits.h:${found}")
endif()
