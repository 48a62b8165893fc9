#pragma once
// The process-wide set-up of the speech module's libraries, made once where the module starts
// (module_entry.cpp), on the thread that loads it and before any of them is used: PocketSphinx
// logs nothing (err_set_logfp(NULL), before any decoder exists), FFmpeg logs nothing and refuses
// single allocations above 256 MiB, libcurl is initialised while no other thread runs. Tests and
// fuzzers that use the subsystems without the module call it the same way.
//
//   setUpSpeechLibraries();   // idempotent

namespace ondevice::platform {

void setUpSpeechLibraries();

}  // namespace ondevice::platform
