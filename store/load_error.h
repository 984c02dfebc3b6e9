#pragma once
// What stopped the loading of a data set. Loading never ends the program itself: it returns one
// of these, and the caller decides. The viewer prints `detail` and then `message` on standard
// error and ends with status 1, which is what it has always printed; the tools report `file` and
// `reason` their own way.
#include <string>

struct LoadError {
    std::string file;    // the file that stopped the load ("" when memory ran out)
    std::string reason;  // what is wrong with it, one line without a line end
    // The lines the viewer prints on standard error before its fatal message, each ending in a
    // line end; often empty (a file that does not exist is only named by the fatal message).
    std::string detail;
    const char* message = nullptr;  // the viewer's fatal message; null when nothing failed

    explicit operator bool() const { return message != nullptr; }
    // "FILE: reason" (or the reason alone when no file is named), for the tools' own messages.
    std::string describe() const { return file.empty() ? reason : file + ": " + reason; }
};

// The viewer's fatal messages for loading failures.
constexpr const char* kOutOfMemory = "out of mem!";
constexpr const char* kMinimapFailure = "failed to load minimap!";
constexpr const char* kBaseTextureFailure = "failed to load file!";
constexpr const char* kTileFileFailure = "failed to load  at least one ezw file!";
