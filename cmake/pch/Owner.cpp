// Owns the precompiled header that the other targets reuse.
