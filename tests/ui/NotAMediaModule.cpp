// A shared library under the media module's name that lacks the player's entry point, as an
// older or foreign library in the module's place would.
extern "C" int talvino_not_a_media_module() { return 1; }
