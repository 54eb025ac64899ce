// The states of the media source; its streams use Stopped, Paused, Started
// and Shutdown. Always written qualified (SourceState::Started): inside the
// source and stream classes Shutdown names the method.
#pragma once

enum SourceState { Invalid = 0, Opening = 1, Stopped = 2, Paused = 3, Started = 4, Shutdown = 5 };
