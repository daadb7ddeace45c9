// platform/bindings.h: which keys and gamepad controls do what.
//
// Eight actions: the game's six (accelerate, reverse, steer left and right,
// stop, quit), each pressing the PC set-1 scancode the game reads, and the
// window's two (screenshot, fullscreen). Each action has a list of up to
// BIND_MAX keys and one of up to BIND_MAX pad controls. A key is a physical
// key by its USB HID usage, with or without Alt held ("Alt+Enter").
//
// The defaults are the game's keys as they have always been: the cursor
// keys, digit 1, Escape, F12 and Alt+Enter; the d-pad, left stick and
// triggers, the south button, Start and Back. Every other key still presses
// its own set-1 code, as without bindings. Once an action's keys are changed
// from the default, a key whose own code is that action's (the cursor key,
// the keypad key with the same code) presses nothing unless it is bound.
//
// Names are matched without regard to case. Keys: A..Z, 0..9, F1..F12, Up,
// Down, Left, Right, Space, Enter, Escape, Tab, Backspace, Insert, Delete,
// Home, End, PageUp, PageDown, Keypad0..Keypad9, KeypadEnter, LeftShift,
// RightShift, LeftCtrl, RightCtrl, LeftAlt, RightAlt, each optionally after
// "Alt+". Pad controls: dpup, dpdown, dpleft, dpright, stickup, stickdown,
// stickleft, stickright (the left stick), lefttrigger, righttrigger, a, b, x,
// y (by position: a is the south button), leftshoulder, rightshoulder,
// start, back. A list is names separated by commas or blanks; "none" is the
// empty list.
#pragma once

#include <cstddef>

enum BindAction {
    BIND_ACCELERATE,
    BIND_REVERSE,
    BIND_LEFT,
    BIND_RIGHT,
    BIND_STOP,
    BIND_QUIT,
    BIND_SCREENSHOT,
    BIND_FULLSCREEN,
    BIND_ACTIONS
};

enum BindPad {
    BIND_PAD_DPUP,
    BIND_PAD_DPDOWN,
    BIND_PAD_DPLEFT,
    BIND_PAD_DPRIGHT,
    BIND_PAD_STICKUP,
    BIND_PAD_STICKDOWN,
    BIND_PAD_STICKLEFT,
    BIND_PAD_STICKRIGHT,
    BIND_PAD_LEFTTRIGGER,
    BIND_PAD_RIGHTTRIGGER,
    BIND_PAD_A,
    BIND_PAD_B,
    BIND_PAD_X,
    BIND_PAD_Y,
    BIND_PAD_LEFTSHOULDER,
    BIND_PAD_RIGHTSHOULDER,
    BIND_PAD_START,
    BIND_PAD_BACK,
    BIND_PADS
};

constexpr int BIND_MAX = 8;
constexpr int BIND_NONE = -1;       // a key or control that does nothing
constexpr int BIND_OWN_CODE = -2;   // a key that presses its own set-1 code

// "accelerate", ...; null past the last. The index of a name, or -1.
const char *bind_action_name(int action);
int bind_action_by_name(const char *name);
// The set-1 scancode a game action presses; 0 for the window's actions.
int bind_action_scancode(int action);

// Replaces an action's keys or pad controls from a list; on a name it does
// not know returns false, leaves the bindings as they were and points why at
// a reason.
bool bind_set_keys(int action, const char *list, const char **why);
bool bind_set_pads(int action, const char *list, const char **why);
// The list in the form bind_set_* reads.
void bind_format_keys(int action, char *out, size_t size);
void bind_format_pads(int action, char *out, size_t size);
// Every binding back to the defaults.
void bind_reset();

// What a key does: an action, BIND_OWN_CODE or BIND_NONE. alt says whether
// an Alt key is held.
int bind_key(int usage, bool alt);
// The action of a pad control, or BIND_NONE.
int bind_pad(int control);
