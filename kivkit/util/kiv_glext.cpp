// Loader for the GL entry points above 1.1; the window code calls kiv_glext_init after making its
// context current. Only SDL_GL_GetProcAddress is used: no other loader library.
#include "kiv_glext.h"

#include <SDL.h>

typedef void(APIENTRY *_kiv_gl_enum_fn)(GLenum);

static _kiv_gl_enum_fn _kiv_active_texture = nullptr;
static _kiv_gl_enum_fn _kiv_client_active_texture = nullptr;
static _kiv_gl_enum_fn _kiv_generate_mipmap = nullptr;

// The core name first, then the extension names of older contexts.
static _kiv_gl_enum_fn _kiv_glext_find(const char *const *names) {
    for (; *names; names++) {
        void *p = SDL_GL_GetProcAddress(*names);
        if (p)
            return reinterpret_cast<_kiv_gl_enum_fn>(p);
    }
    return nullptr;
}

void kiv_glext_init() {
    static const char *const active[] = {"glActiveTexture", "glActiveTextureARB", nullptr};
    static const char *const client[] = {"glClientActiveTexture", "glClientActiveTextureARB", nullptr};
    static const char *const mipmap[] = {"glGenerateMipmap", "glGenerateMipmapEXT", nullptr};
    _kiv_active_texture = _kiv_glext_find(active);
    _kiv_client_active_texture = _kiv_glext_find(client);
    _kiv_generate_mipmap = _kiv_glext_find(mipmap);
}

void kiv_glext_reset() {
    _kiv_active_texture = nullptr;
    _kiv_client_active_texture = nullptr;
    _kiv_generate_mipmap = nullptr;
}

bool kiv_glext_has_active_texture() {
    return _kiv_active_texture != nullptr;
}
bool kiv_glext_has_client_active_texture() {
    return _kiv_client_active_texture != nullptr;
}
bool kiv_glext_has_generate_mipmap() {
    return _kiv_generate_mipmap != nullptr;
}

void kiv_glActiveTexture(GLenum texture) {
    if (_kiv_active_texture)
        _kiv_active_texture(texture);
}

void kiv_glClientActiveTexture(GLenum texture) {
    if (_kiv_client_active_texture)
        _kiv_client_active_texture(texture);
}

void kiv_glGenerateMipmap(GLenum target) {
    if (_kiv_generate_mipmap)
        _kiv_generate_mipmap(target);
}
