// Placeholder until the first sources of this library land; delete then.
