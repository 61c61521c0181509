# The help window over a compiled help file: added by the engine's sources.
