// GL 1.3+ entry points that the system GL library need not export: glActiveTexture,
// glClientActiveTexture and glGenerateMipmap, fetched from the current context by the window code.
// Include this header instead of <GL/gl.h>; the names below then call through the loaded pointers,
// and a call whose entry point the context lacks does nothing.
#pragma once

#include <SDL_opengl.h>

// Fetches the entry points; called once a GL context is current (again after a new context).
void kiv_glext_init();
// Forgets the entry points (the context is gone); later calls do nothing until the next init.
void kiv_glext_reset();
// True when the context offers the entry point.
bool kiv_glext_has_active_texture();
bool kiv_glext_has_client_active_texture();
bool kiv_glext_has_generate_mipmap();

void kiv_glActiveTexture(GLenum texture);
void kiv_glClientActiveTexture(GLenum texture);
void kiv_glGenerateMipmap(GLenum target);

#define glActiveTexture kiv_glActiveTexture
#define glClientActiveTexture kiv_glClientActiveTexture
#define glGenerateMipmap kiv_glGenerateMipmap
