#pragma once

namespace velloq::platform {

// Hands the heap's free pages back to the system, after work that needed much memory for a
// while (the first reading of a large store).
void return_free_memory();

}
