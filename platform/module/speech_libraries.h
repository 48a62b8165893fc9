#pragma once
// The process-wide set-up of the speech module's libraries, made once at the module's entry
// (module_entry.cpp) and never lazily by the objects that use them. Tests and fuzzers that use
// the subsystems without the module call the same functions.
//
//   setUpSpeechLibraries();     // when the module starts, on the thread that loads it
//   setUpDownloadLibraries();   // before the first download, while no other thread runs

namespace ondevice::platform {

// PocketSphinx logs nothing (err_set_logfp(NULL), before any decoder exists); FFmpeg logs
// nothing and refuses single allocations above 256 MiB. Idempotent.
void setUpSpeechLibraries();

// libcurl's global initialisation, which sets up OpenSSL (about 2.5 ms). Made before the first
// download rather than when the module starts: transcriptions never download, so they neither
// pay for it nor carry OpenSSL's exit handler. Idempotent.
void setUpDownloadLibraries();

}  // namespace ondevice::platform
