# Precompiled headers. Most of the compile time of the application's and the
# tests' sources is spent parsing the same large headers (Qt Widgets,
# GoogleTest, the standard library), so each such target parses them once.
# -DCHORDWELL_PCH=OFF builds without them, which shows a source that forgot an
# include (check-macos builds that way).
option(CHORDWELL_PCH "Precompile the large common headers of the application and the tests" ON)

set(CHORDWELL_PCH_STD <algorithm> <chrono> <filesystem> <functional> <map> <memory> <optional>
                      <string> <string_view> <vector>)

# chordwell_precompile(target [QT] [GTEST])
function(chordwell_precompile target)
    if(NOT CHORDWELL_PCH)
        return()
    endif()
    cmake_parse_arguments(PCH "QT;GTEST" "" "" ${ARGN})
    set(headers ${CHORDWELL_PCH_STD})
    if(PCH_GTEST)
        list(APPEND headers <gtest/gtest.h>)
    endif()
    if(PCH_QT)
        list(APPEND headers <QApplication> <QLabel> <QPainter> <QPushButton> <QString>
             <QVBoxLayout> <QWidget>)
    endif()
    if(PCH_QT AND PCH_GTEST)
        list(APPEND headers <QLineEdit> <QMenu> <QSignalSpy> <QTemporaryDir> <QTest>)
    endif()
    target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
