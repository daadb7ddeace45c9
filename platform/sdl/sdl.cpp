// platform/sdl/sdl.cpp: the SDL2 window backend (stub).
