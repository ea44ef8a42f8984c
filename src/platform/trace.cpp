// Placeholder until this file's module lands.
