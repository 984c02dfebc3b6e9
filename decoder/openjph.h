#pragma once
// What our HTJ2K adapters (decoder/htj2k_decode.h, encoder/htj2k_encode.h) share about OpenJPH:
// where its messages go and how a call into it is guarded. (Its headers, which only compile in
// one order, are in decoder/openjph_headers.h.)
//
// OpenJPH reports an error by printing it to a stream and throwing std::runtime_error("ojph
// error") (or, deep in its parsers, a C string); warnings and notes are printed and decoding goes
// on. Its handler hooks (configure_error and the like) do nothing in Debian's 0.9, so we cannot
// replace the handlers, only their streams: openjph_start() points all three at streams that print
// nothing and keep, per thread, the last message and a count of warnings. The decoder refuses a
// block that drew a warning (a code block the library could not decode, for one) rather than
// show a hole, and our errors quote the library's message.
//
// Debian builds the library with its assertions on, and some of them check the input: an unknown
// progression order, or a code block whose bits make no sense (mel_init's, in the block decoder).
// A failed assertion calls abort(). decoder/htj2k_codestream.h keeps the header cases away from
// the library, but code-block bits cannot be checked without decoding them, so openjph_guarded()
// runs a call with SIGABRT caught on the calling thread and jumps back out of the library when it
// fires: the call then fails like any other, and the process lives. The library's frames between
// are abandoned (none of them owns memory in the decode path; the codestream object, which does,
// belongs to the caller and is destroyed as after an exception). SIGABRT raised anywhere else
// still takes the action it had before.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// Points the library's message streams at ours (once per process), and forgets this thread's
// last message. Every adapter entry point calls it before it touches the library.
void openjph_start();

// Warnings the library gave on this thread so far; a caller compares the count before and after
// a call.
uint64_t openjph_warnings_on_this_thread();

// Runs `body` (calls into the library) with its exceptions and failed assertions caught. True
// when `body` returned; otherwise false and `fault` says why. Objects that must be cleaned up
// after a failure belong outside `body`.
bool openjph_guarded(const std::function<void()>& body, std::string* fault);

// What to say for an exception caught from a guarded call: for the library's errors, the message
// it printed on this thread; otherwise the exception's own text (std::exception or C string).
std::string openjph_fault(std::exception_ptr e);
