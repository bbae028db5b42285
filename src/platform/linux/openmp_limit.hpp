#pragma once
// Tesseract links libgomp, whose threads spin on a busy machine and make recognition several times slower.
// Only OMP_THREAD_LIMIT stops them, and libgomp reads it once, while the program is loading.

namespace pavo::platform::linux_recognition {

// Unless OMP_THREAD_LIMIT is already "1", sets it and executes this same program again with the same
// arguments (same process id, same open files), so that libgomp sees it from the start. Call first thing in
// main, before any thread starts. Returns only when nothing needed doing or the program could not be
// executed again (the program then runs on, slower).
void limitOpenMPThreads(char** argv);

}  // namespace pavo::platform::linux_recognition
