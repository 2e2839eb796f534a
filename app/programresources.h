#pragma once

/// Registers the program's embedded resources (the icon at ":/images/ktz.ico").
/// The resources live in a static library, whose automatic registration the
/// linker may drop; call this once before the first window is built.
/// Registering twice is harmless.
void initProgramResources();
