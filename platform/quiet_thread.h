#pragma once

#include <functional>
#include <thread>

namespace vornel {

// Starts a thread that takes no signals: an interrupt must reach the thread
// that builds the image, which removes the temporary output. (A host whose
// interrupts arrive on a thread of their own starts a plain thread.)
std::thread startQuietThread(std::function<void()> function);

}  // namespace vornel
