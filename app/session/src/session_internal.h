// Between the session record, the reporting and the worker machinery; not part of the layer's face.
#pragma once

class UpgradeSession;

// The session if it exists; never creates one (the worker must not race the user-interface
// thread into creating it).
UpgradeSession* FindSession();

// Deletes the session and forgets it; DestroySession calls it once no job thread can use it.
void DeleteSession();
