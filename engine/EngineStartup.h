// Work the engine does once per process, on the first call of its export rather than
// while the library loads (loading sibling libraries under the loader lock would deadlock).
#pragma once

namespace tidyhive {

// Loads the sibling services the engine needs from the start, registers the localized
// texts and chooses the language. Safe to call from several threads; runs once.
void EnsureEngineStarted();

}  // namespace tidyhive
