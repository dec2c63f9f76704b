// Retained widget toolkit: widgets and their event defaults, containers (routing, focus, hover, first focus),
// styles and their animation, the box model, boxes, tables, labels and the text input. An owner builds a tree in
// code and drives its root once per frame (event, loop, resize, paint).
#include "kiv_gui.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "kiv_driver.h"
#include "kiv_font.h"
#include "kiv_gfx_int.h"
#include "kiv_mixer.h"
#include "kiv_printf.h"
#include "kiv_util.h"

// --- constants

static const int _GUI_FADE_STEP = 36;
static const int _GUI_SIZE_STEP = 1000;
static const unsigned _GUI_SELECTION = 0x55AAFF;
static const unsigned _GUI_CURSOR = 0xFFFFFF;

// --- internal helpers

static bool _none(const var &v) {
    return v.__type__() == VAR_NONE;
}

// The running answer of a router: every reaction that is not none replaces it.
static void _keep(var &r, const var &a) {
    if (!_none(a))
        r = a;
}

static bool _set(int v) {
    return v != STYLE_UNSET;
}

static bool _set(MyRectNumber v) {
    return v != (MyRectNumber)STYLE_UNSET;
}

static int _or0(int v) {
    return _set(v) ? v : 0;
}

static MyRectNumber _or0(MyRectNumber v) {
    return _set(v) ? v : 0;
}

static int _clamp_ll(long long v) {
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return (int)v;
}

// Margin + padding + border of one edge of the live style, unset values counting 0.
static int _extent(const StyleData &s, int edge) {
    return _clamp_ll((long long)_or0(s.margin[edge]) + _or0(s.padding[edge]) + _or0(s.border[edge]));
}

// --- public functions: rectangles

int MyRect::get_left() const {
    return kiv_d2i(x);
}

int MyRect::get_top() const {
    return kiv_d2i(y);
}

int MyRect::get_right() const {
    return kiv_d2i((MyRectNumber)(x + w));
}

int MyRect::get_bottom() const {
    return kiv_d2i((MyRectNumber)(y + h));
}

int MyRect::get_centerx() const {
    return kiv_d2i((MyRectNumber)(x + w / 2));
}

int MyRect::get_centery() const {
    return kiv_d2i((MyRectNumber)(y + h / 2));
}

// --- public functions: styles

StyleData::Draw::Draw()
    : image(STYLE_UNSET), color(STYLE_UNSET), alpha(STYLE_UNSET), edge(STYLE_UNSET), tile(STYLE_UNSET) {}

StyleData::StyleData()
    : width((MyRectNumber)STYLE_UNSET), height((MyRectNumber)STYLE_UNSET), clip(STYLE_UNSET), align(STYLE_UNSET),
      valign(STYLE_UNSET), color(STYLE_UNSET), alpha(STYLE_UNSET), border_color(STYLE_UNSET), sfx_onclick(STYLE_UNSET),
      sfx_ondown(STYLE_UNSET), sfx_onup(STYLE_UNSET), sfx_onenter(STYLE_UNSET), sfx_onfocus(STYLE_UNSET) {
    for (int i = 0; i < 4; i++)
        border[i] = padding[i] = margin[i] = STYLE_UNSET;
}

static void _style_sides(int *a, int top, int right, int bottom, int left) {
    a[STYLE_TOP] = top;
    a[STYLE_RIGHT] = _set(right) ? right : top;
    a[STYLE_BOTTOM] = _set(bottom) ? bottom : top;
    a[STYLE_LEFT] = _set(left) ? left : top;
}

void StyleData::set_border(int top, int right, int bottom, int left) {
    _style_sides(border, top, right, bottom, left);
}

void StyleData::set_margin(int top, int right, int bottom, int left) {
    _style_sides(margin, top, right, bottom, left);
}

void StyleData::set_padding(int top, int right, int bottom, int left) {
    _style_sides(padding, top, right, bottom, left);
}

StyleSheet::StyleSheet() : hover(0), focus(0), active(0), alt(0), state(STYLE_NONE) {}

void StyleSheet::restate() {
    active = (focus && hover) ? 1 : 0;
    if (active)
        state = STYLE_ACTIVE;
    else if (focus)
        state = STYLE_FOCUS;
    else if (hover)
        state = STYLE_HOVER;
    else
        state = STYLE_NONE;
}

int i_prep(int cur, int target, int step) {
    double diff = (double)target - (double)cur;
    if ((double)step > std::fabs(diff))
        return target;
    int sign = diff > 0 ? 1 : (diff < 0 ? -1 : 0);
    return _clamp_ll((long long)cur + (long long)sign * step);
}

int c_prep(int cur, int target, int step) {
    int r = i_prep(cur & 0xFF0000, target & 0xFF0000, step << 16);
    int g = i_prep(cur & 0xFF00, target & 0xFF00, step << 8);
    int b = i_prep(cur & 0xFF, target & 0xFF, step);
    return r | g | b;
}

int n_prep(int cur, int target, int step) {
    return target;
}

enum { _ANIM_INT, _ANIM_COLOR, _ANIM_SWITCH };

static void _anim(int &cur, int alt, int st, int norm, int kind, int step) {
    int target = _set(alt) ? alt : (_set(st) ? st : norm);
    if (!_set(target))
        return;
    if (!_set(cur))
        cur = target;
    else if (kind == _ANIM_COLOR)
        cur = c_prep(cur, target, step);
    else if (kind == _ANIM_SWITCH)
        cur = n_prep(cur, target, step);
    else
        cur = i_prep(cur, target, step);
}

static void _anim_size(MyRectNumber &cur, MyRectNumber alt, MyRectNumber st, MyRectNumber norm) {
    MyRectNumber target = _set(alt) ? alt : (_set(st) ? st : norm);
    if (!_set(target))
        return;
    if (!_set(cur))
        cur = target;
    else
        cur = (MyRectNumber)i_prep(kiv_d2i(cur), kiv_d2i(target), _GUI_SIZE_STEP);
}

void StyleSheet::loop() {
    StyleData &cur = data[STYLE_CUR];
    const StyleData unset;
    const StyleData &a = alt ? data[STYLE_ALT] : unset;
    const StyleData &s = data[state >= 0 && state < STYLE_MAX ? state : STYLE_NONE];
    const StyleData &n = *this;
#define _GUI_ANIM(f, kind, step) _anim(cur.f, a.f, s.f, n.f, kind, step)
    _anim_size(cur.width, a.width, s.width, n.width);
    _anim_size(cur.height, a.height, s.height, n.height);
    _GUI_ANIM(clip, _ANIM_SWITCH, 0);
    _GUI_ANIM(align, _ANIM_SWITCH, 0);
    _GUI_ANIM(valign, _ANIM_SWITCH, 0);
    _GUI_ANIM(color, _ANIM_COLOR, _GUI_FADE_STEP);
    _GUI_ANIM(alpha, _ANIM_INT, _GUI_FADE_STEP);
    for (int i = 0; i < 4; i++) {
        _GUI_ANIM(border[i], _ANIM_INT, 1);
        _GUI_ANIM(padding[i], _ANIM_INT, 1);
        _GUI_ANIM(margin[i], _ANIM_INT, 1);
    }
    _GUI_ANIM(border_color, _ANIM_COLOR, _GUI_FADE_STEP);
    _GUI_ANIM(background.image, _ANIM_SWITCH, 0);
    _GUI_ANIM(background.color, _ANIM_COLOR, _GUI_FADE_STEP);
    _GUI_ANIM(background.alpha, _ANIM_INT, _GUI_FADE_STEP);
    _GUI_ANIM(background.edge, _ANIM_INT, 1);
    _GUI_ANIM(background.tile, _ANIM_INT, 1);
    _GUI_ANIM(overlay.image, _ANIM_SWITCH, 0);
    _GUI_ANIM(overlay.color, _ANIM_COLOR, _GUI_FADE_STEP);
    _GUI_ANIM(overlay.alpha, _ANIM_INT, _GUI_FADE_STEP);
    _GUI_ANIM(overlay.edge, _ANIM_INT, 1);
    _GUI_ANIM(overlay.tile, _ANIM_INT, 1);
    _GUI_ANIM(sfx_onclick, _ANIM_SWITCH, 0);
    _GUI_ANIM(sfx_ondown, _ANIM_SWITCH, 0);
    _GUI_ANIM(sfx_onup, _ANIM_SWITCH, 0);
    _GUI_ANIM(sfx_onenter, _ANIM_SWITCH, 0);
    _GUI_ANIM(sfx_onfocus, _ANIM_SWITCH, 0);
#undef _GUI_ANIM
}

// --- public functions: drawing adapters

int KivGuiFont::get_height(const char *s, int w) {
    return kiv_d2i(font_get_height(fid, s, (float)w));
}

int KivGuiFont::get_width(const char *s, int w) {
    if (w != 0)
        return w;
    return kiv_d2i(font_get_width(fid, s));
}

void KivGuiFont::draw(const char *s, int x, int y, int w, int align) {
    font_draw(fid, s, (float)x, (float)y, (float)w, align);
}

GfxRect KivGuiFont::crect(const char *s, int pos, int w, int align) {
    return font_crect(fid, s, pos, (float)w, align);
}

int KivGuiFont::cnear(const char *s, int x, int y, int w, int align) {
    return font_cnear(fid, s, x, y, (float)w, align);
}

void guiColor4ub(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    if (!gfx_exists())
        return;
    gfx_color4ub(r * a / 255, g * a / 255, b * a / 255, a);
}

// The same for a colour given as 0xRRGGBB, the form styles hold.
static void _gui_color(unsigned rgb, unsigned char a) {
    guiColor4ub((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255, a);
}

// --- public functions: widget

Widget::Widget()
    : _type(0), parent(nullptr), next(nullptr), ignore(0), useful(0), b_col(0), b_row(0), b_colspan(1), b_rowspan(1),
      b_x(0), b_y(0) {}

Widget::~Widget() {}

Widget *Widget::find(const char *n) {
    return (n && name == n) ? this : nullptr;
}

const char *Widget::get_value_s() {
    return nullptr;
}

void Widget::set_value_s(const char *s) {}

int Widget::get_value_i() {
    return 0;
}

void Widget::set_value_i(int v) {}

var Widget::get_value() {
    return var();
}

void Widget::set_value(var v) {}

// Focus and hover share their walk: the old chain gets the leave event from the root, the new one the arrive event.
static var _widget_chain(Widget *self, int StyleSheet::*flag, int leave, int arrive, Widget *Container::*slot) {
    if (self->style.*flag)
        return var();
    Event ev(leave);
    var r = self->_find_top()->event(&ev);
    for (Widget *w = self; w; w = w->parent) {
        ev = Event(arrive);
        _keep(r, w->_event(&ev));
        if (w->parent)
            w->parent->*slot = w;
    }
    return r;
}

var Widget::_focus() {
    return _widget_chain(this, &StyleSheet::focus, EVT_BLUR, EVT_FOCUS, &Container::focus);
}

var Widget::_hover() {
    return _widget_chain(this, &StyleSheet::hover, EVT_EXIT, EVT_ENTER, &Container::hover);
}

Widget *Widget::find_hover() {
    return nullptr;
}

var Widget::active() {
    var a = _hover();
    var b = _focus();
    return _none(b) ? a : b;
}

std::vector<Widget *> Widget::_list_descendants() {
    return std::vector<Widget *>();
}

bool Widget::_is_focus() {
    return style.focus != 0;
}

var Widget::event(Event *e) {
    if (!e)
        return var();
    if (e->type == EVT_KEYDOWN) {
        if (e->v == KEY_TAB && next)
            next->_focus();
        switch (e->v) {
        case KEY_UP:
            return _nav(0, -1);
        case KEY_RIGHT:
            return _nav(1, 0);
        case KEY_DOWN:
            return _nav(0, 1);
        case KEY_LEFT:
            return _nav(-1, 0);
        default:
            break;
        }
    }
    switch (e->type) {
    case EVT_CLICK:
        return onclick;
    case EVT_MOTION:
        return onmove;
    case EVT_DOWN:
        return ondown;
    case EVT_UP:
        return onup;
    case EVT_FOCUS:
        style.focus = 1;
        style.restate();
        return onfocus;
    case EVT_ENTER:
        style.hover = 1;
        style.restate();
        return onenter;
    case EVT_EXIT:
        style.hover = 0;
        style.restate();
        return onexit;
    case EVT_BLUR:
        style.focus = 0;
        style.restate();
        return var();
    default:
        return var();
    }
}

void Widget::loop() {}

void Widget::paint() {}

void Widget::resize() {
    const StyleData &cur = style.data[STYLE_CUR];
    rect.w = _or0(cur.width);
    rect.h = _or0(cur.height);
}

void Widget::resize(int w, int h) {
    Widget::resize();
}

var Widget::_event(Event *e) {
    return Theme::event(this, e);
}

void Widget::_paint() {
    Theme::paint(this);
}

void Widget::_resize() {
    Theme::resize(this);
}

void Widget::_resize(int w, int h) {
    Theme::resize(this, w, h);
}

Widget *Widget::_find_top() {
    Widget *w = this;
    while (w->parent)
        w = w->parent;
    return w;
}

var Widget::_nav(int dx, int dy) {
    if (!_is_focus() || !useful)
        return var();
    std::vector<Widget *> all = _find_top()->_list_descendants();
    MyRect A = get_abs_rect(true);
    // Ordered by distance, then by position in the list; a pair cannot overflow the way a packed int key does.
    std::map<std::pair<double, size_t>, Widget *> res;
    for (size_t i = 0; i < all.size(); i++) {
        Widget *W = all[i];
        if (W == this || W->style.focus || W->ignore || !W->useful)
            continue;
        MyRect B = W->get_abs_rect(true);
        int ax = A.get_centerx(), ay = A.get_centery(), bx = B.get_centerx(), by = B.get_centery();
        if ((dy < 0 && !(by < ay)) || (dx > 0 && !(bx > ax)) || (dy > 0 && !(by > ay)) || (dx < 0 && !(bx < ax)))
            continue;
        if (dx > 0)
            ax = A.get_right(), bx = B.get_left();
        if (dx < 0)
            ax = A.get_left(), bx = B.get_right();
        if (dy > 0)
            ay = A.get_bottom(), by = B.get_top();
        if (dy < 0)
            ay = A.get_top(), by = B.get_bottom();
        float fx = std::fabs((float)((double)bx - ax)) * (dy != 0 ? 2.0f : 1.0f);
        float fy = std::fabs((float)((double)by - ay)) * (dx != 0 ? 2.0f : 1.0f);
        double dist = std::trunc(std::sqrt((double)(fx * fx + fy * fy)));
        res[std::make_pair(dist, i)] = W;
    }
    kiv_printf("res.size: %lu\n", (unsigned long)res.size());
    if (res.empty())
        return var();
    Widget *w = res.begin()->second;
    var a = w->_hover();
    var b = w->_focus();
    return _none(b) ? a : b;
}

MyRect Widget::get_abs_rect(bool inc_style) {
    int X = 0, Y = 0;
    for (Widget *w = this; w; w = w->parent) {
        X = kiv_d2i(kiv_d2i((double)X + w->rect.x) + (double)w->_rect.x);
        Y = kiv_d2i(kiv_d2i((double)Y + w->rect.y) + (double)w->_rect.y);
        if (w->parent) {
            X = kiv_d2i((double)X - w->parent->view.x);
            Y = kiv_d2i((double)Y - w->parent->view.y);
        }
    }
    if (!inc_style)
        return MyRect((MyRectNumber)X, (MyRectNumber)Y, rect.w, rect.h);
    return MyRect((MyRectNumber)((double)X - rect.x), (MyRectNumber)((double)Y - rect.y), _rect.w, _rect.h);
}

void Widget::_enable_clip() {
    gfx_clip(0, 0, rect.w, rect.h);
}

void Widget::_disable_clip() {
    gfx_unclip();
}

// --- public functions: container

Container::Container() : hover(nullptr), focus(nullptr), first(0) {}

Container &Container::operator=(const Container &other) {
    if (this == &other)
        return *this;
    Widget::operator=(other);
    _container_destroy();
    hover = nullptr;
    focus = nullptr;
    first = 0;
    return *this;
}

Container::~Container() {
    _container_destroy();
}

void Container::_container_destroy() {
    std::vector<Widget *> old;
    old.swap(widgets);
    hover = nullptr;
    focus = nullptr;
    for (Widget *w : old)
        delete w;
}

// A widget given twice, or a container given to its own descendant, would be deleted twice or walked forever.
static bool _container_can_own(Container *c, Widget *w) {
    for (Widget *a = c; a; a = a->parent)
        if (a == w)
            return false;
    return std::find(c->widgets.begin(), c->widgets.end(), w) == c->widgets.end();
}

void Container::add(Widget *w, int x, int y) {
    if (!w)
        return;
    if (!_container_can_own(this, w)) {
        kiv_printf("Container::add: widget \"%s\" is already in this tree's path; not added\n", w->name.c_str());
        return;
    }
    w->_rect.x = (MyRectNumber)x;
    w->_rect.y = (MyRectNumber)y;
    widgets.push_back(w);
    w->parent = this;
    w->style.loop();
    w->resize();
}

Widget *Container::find(const char *n) {
    for (Widget *w : widgets) {
        Widget *r = w ? w->find(n) : nullptr;
        if (r)
            return r;
    }
    return Widget::find(n);
}

Widget *Container::find_hover() {
    if (!hover)
        return nullptr;
    Widget *h = hover->find_hover();
    return h ? h : hover;
}

std::vector<Widget *> Container::_list_descendants() {
    std::vector<Widget *> out;
    for (Widget *w : widgets) {
        if (!w)
            continue;
        out.push_back(w);
        std::vector<Widget *> sub = w->_list_descendants();
        out.insert(out.end(), sub.begin(), sub.end());
    }
    return out;
}

bool Container::_is_focus() {
    if (focus)
        return false;
    return Widget::_is_focus();
}

// The topmost child whose outer box holds the point, half-open on the right and bottom edges.
static Widget *_container_hit(Container *c, float x, float y, bool useful_only) {
    for (size_t i = c->widgets.size(); i-- > 0;) {
        Widget *w = c->widgets[i];
        if (!w || w->ignore || (useful_only && !w->useful))
            continue;
        const MyRect &r = w->_rect;
        if (r.x <= x && x < r.x + r.w && r.y <= y && y < r.y + r.h)
            return w;
    }
    return nullptr;
}

static Event _translated(const Event *e, Widget *w) {
    Event c = *e;
    c.x -= w->_rect.x;
    c.y -= w->_rect.y;
    return c;
}

// A pointer event (or the pointer leaving) moves the hover: the old child gets EVT_EXIT, the new one EVT_ENTER.
static void _container_track_hover(Container *c, const Event *e, var &r) {
    const int t = e->type;
    Widget *old = c->hover, *now = old;
    if ((t == EVT_MOTION && e->b == 0) || t == EVT_DOWN || t == EVT_UP)
        now = _container_hit(c, e->x, e->y, false);
    if (t == EVT_EXIT)
        now = nullptr;
    if (now == old)
        return;
    Event loc(EVT_NONE);
    if (old) {
        loc = Event(EVT_EXIT);
        _keep(r, old->_event(&loc));
    }
    if (now) {
        loc = Event(EVT_ENTER);
        _keep(r, now->_event(&loc));
    }
    c->hover = now;
}

// What the focused child gets: the event itself, a click when the pointer is released over it, and a keyboard
// click for space or return.
static void _container_to_focus(Container *c, const Event *e, var &r) {
    Widget *f = c->focus;
    if (!f)
        return;
    const int t = e->type;
    Event in = _translated(e, f);
    _keep(r, f->_event(&in));
    if (c->hover == f && t == EVT_UP) {
        Event k = _translated(e, f);
        k.type = EVT_CLICK;
        _keep(r, f->_event(&k));
    }
    if (t == EVT_KEYUP && (e->v == KEY_SPACE || e->v == KEY_RETURN)) {
        Event k = *e;
        k.type = EVT_CLICK;
        k.v = KIV_GUI_CLICK_KEYBOARD;
        k.x = f->_rect.w / 2;
        k.y = f->_rect.h / 2;
        _keep(r, f->_event(&k));
    }
}

var Container::event(Event *e) {
    if (!e)
        return var();
    var r = Widget::event(e);
    const int t = e->type;
    if (t == EVT_CLICK || t == EVT_ENTER || t == EVT_FOCUS)
        return r;
    if (t == EVT_ORIENT) {
        r = var();
        for (size_t i = widgets.size(); i-- > 0;) {
            Widget *w = widgets[i];
            if (w && !w->ignore)
                _keep(r, w->_event(e));
        }
        return r;
    }
    _container_track_hover(this, e, r);
    if (t == EVT_EXIT)
        return r;

    int fv = 0;
    if (t == EVT_DOWN) {
        Widget *pick = _container_hit(this, e->x, e->y, true);
        if (pick && pick != focus) {
            fv = KIV_GUI_PRESS_FOCUSED;
            _keep(r, pick->_focus());
        }
    }
    if (t == EVT_BLUR) {
        if (focus) {
            Event loc(EVT_BLUR);
            _keep(r, focus->_event(&loc));
        }
        focus = nullptr;
        return r;
    }
    if (hover && (t == EVT_DOWN || t == EVT_MOTION || t == EVT_WHEEL)) {
        Event c = _translated(e, hover);
        if (t == EVT_DOWN)
            c.v = fv;
        _keep(r, hover->_event(&c));
        return r;
    }
    _container_to_focus(this, e, r);
    return r;
}

void Container::_find_focus() {
    if (first)
        return;
    first += 1;
    for (Widget *w : _find_top()->_list_descendants()) {
        if (!w->ignore && w->useful) {
            w->_hover();
            w->_focus();
            break;
        }
    }
    first -= 1;
}

void Container::loop() {
    if (!parent && !focus)
        _find_focus();
    for (size_t i = 0; i < widgets.size(); i++)
        if (widgets[i])
            widgets[i]->loop();
}

void Container::paint() {
    for (Widget *w : widgets) {
        if (!w)
            continue;
        GfxRect box(w->_rect.x, w->_rect.y, w->_rect.w, w->_rect.h);
        if (!_gfx_clip(&box, nullptr))
            continue;
        gfx_translate(w->_rect.x, w->_rect.y);
        w->_paint();
        gfx_translate(-w->_rect.x, -w->_rect.y);
    }
}

void Container::resize() {
    int W = 0, H = 0;
    for (Widget *w : widgets) {
        if (!w)
            continue;
        w->style.loop();
        w->_resize();
        W = std::max(W, kiv_d2i(std::max((double)W, (double)w->_rect.x + w->_rect.w)));
        H = std::max(H, kiv_d2i(std::max((double)H, (double)w->_rect.y + w->_rect.h)));
    }
    rect.w = (MyRectNumber)W;
    rect.h = (MyRectNumber)H;
}

// --- public functions: theme

void Theme::resize(Widget *w) {
    if (!w)
        return;
    const StyleData &s = w->style.data[STYLE_CUR];
    int t = _extent(s, STYLE_TOP), r = _extent(s, STYLE_RIGHT), b = _extent(s, STYLE_BOTTOM),
        l = _extent(s, STYLE_LEFT);
    w->resize();
    w->rect.x = (MyRectNumber)l;
    w->rect.y = (MyRectNumber)t;
    w->_rect.w = (MyRectNumber)((double)r + w->rect.w + l);
    w->_rect.h = (MyRectNumber)((double)b + w->rect.h + t);
}

void Theme::resize(Widget *w, int width, int height) {
    if (!w)
        return;
    const StyleData &s = w->style.data[STYLE_CUR];
    int t = _extent(s, STYLE_TOP), r = _extent(s, STYLE_RIGHT), b = _extent(s, STYLE_BOTTOM),
        l = _extent(s, STYLE_LEFT);
    w->resize(_clamp_ll((long long)width - ((long long)l + r)), _clamp_ll((long long)height - ((long long)t + b)));
    w->rect.x = (MyRectNumber)l;
    w->rect.y = (MyRectNumber)t;
    w->_rect.w = (MyRectNumber)((double)r + w->rect.w + l);
    w->_rect.h = (MyRectNumber)((double)b + w->rect.h + t);
}

var Theme::event(Widget *w, Event *e) {
    if (!w || !e)
        return var();
    Event c = *e;
    c.x -= w->rect.x;
    c.y -= w->rect.y;
    const StyleData &s = w->style.data[STYLE_CUR];
    int sfx = STYLE_UNSET;
    switch (e->type) {
    case EVT_CLICK:
        sfx = s.sfx_onclick;
        break;
    case EVT_DOWN:
        sfx = s.sfx_ondown;
        break;
    case EVT_UP:
        sfx = s.sfx_onup;
        break;
    case EVT_ENTER:
        sfx = s.sfx_onenter;
        break;
    case EVT_FOCUS:
        sfx = s.sfx_onfocus;
        break;
    default:
        break;
    }
    if (_set(sfx))
        mixer_sample_play(sfx, 1.0f, 0.0f);
    return w->event(&c);
}

// One drawing layer over the box inside the border. An edge or tile of 0 or less has no size to draw by, so
// such a layer falls back to the next way of drawing (tiles, then one stretched blit).
static void _theme_layer(const StyleData::Draw &d, float x0, float y0, float w0, float h0) {
    if (_set(d.image)) {
        unsigned c = _set(d.color) ? (unsigned)d.color : 0xFFFFFFu;
        unsigned char a = _set(d.alpha) ? (unsigned char)(d.alpha & 255) : 255;
        _gui_color(c, a);
        if (_set(d.edge) && d.edge > 0)
            gfx_img_box(d.image, kiv_d2i(x0), kiv_d2i(y0), kiv_d2i(w0), kiv_d2i(h0), d.edge);
        else if (!_set(d.tile) || d.tile <= 0)
            gfx_img_blit(d.image, x0, y0, w0, h0);
        else
            gfx_img_tile(d.image, kiv_d2i(x0), kiv_d2i(y0), kiv_d2i(w0), kiv_d2i(h0), d.tile);
        guiColor4ub(255, 255, 255, 255);
    } else if (_set(d.color)) {
        gfx_fill((unsigned)d.color, x0, y0, w0, h0);
    }
}

void Theme::paint(Widget *w) {
    if (!w)
        return;
    const StyleData &s = w->style.data[STYLE_CUR];
    const float W = w->_rect.w, H = w->_rect.h;
    const float mt = (float)_or0(s.margin[STYLE_TOP]), mr = (float)_or0(s.margin[STYLE_RIGHT]),
                mb = (float)_or0(s.margin[STYLE_BOTTOM]), ml = (float)_or0(s.margin[STYLE_LEFT]);
    const float bt = (float)_or0(s.border[STYLE_TOP]), br = (float)_or0(s.border[STYLE_RIGHT]),
                bb = (float)_or0(s.border[STYLE_BOTTOM]), bl = (float)_or0(s.border[STYLE_LEFT]);
    if (_set(s.border_color)) {
        unsigned c = (unsigned)s.border_color;
        if (bt != 0)
            gfx_fill(c, ml, mt, W - (mr + ml), bt);
        if (bb != 0)
            gfx_fill(c, ml, H - (mb + bb), W - (mr + ml), bb);
        if (br != 0)
            gfx_fill(c, W - (mr + br), mt + bt, br, H - (bt + mt + mb + bb));
        if (bl != 0)
            gfx_fill(c, ml, mt + bt, bl, H - (bt + mt + mb + bb));
    }
    const float x0 = ml + bl, y0 = mt + bt, w0 = W - (ml + mr + bl + br), h0 = H - (mt + mb + bt + bb);
    _theme_layer(s.background, x0, y0, w0, h0);
    _theme_layer(s.overlay, x0, y0, w0, h0);
    gfx_translate(w->rect.x, w->rect.y);
    w->paint();
    gfx_translate(-w->rect.x, -w->rect.y);
}

// --- public functions: box

Box::Box(Widget *content) {
    add(content, 0, 0);
}

static Widget *_box_child(Box *b) {
    return b->widgets.empty() ? nullptr : b->widgets[0];
}

static bool _clips(const Widget *w) {
    int c = w->style.data[STYLE_CUR].clip;
    return _set(c) && c != 0;
}

void Box::paint() {
    if (_clips(this)) {
        _enable_clip();
        Container::paint();
        _disable_clip();
    } else {
        Container::paint();
    }
}

void Box::resize() {
    Container::resize();
    const StyleData &s = style.data[STYLE_CUR];
    double lr = (double)_extent(s, STYLE_LEFT) + _extent(s, STYLE_RIGHT);
    double tb = (double)_extent(s, STYLE_TOP) + _extent(s, STYLE_BOTTOM);
    double W = _or0(s.width), H = _or0(s.height);
    Widget *c = _box_child(this);
    double cw = c ? c->_rect.w : 0, ch = c ? c->_rect.h : 0;
    if (!_clips(this)) {
        rect.w = (MyRectNumber)std::max(kiv_d2i(cw), kiv_d2i(W - lr));
        rect.h = (MyRectNumber)std::max(kiv_d2i(ch), kiv_d2i(H - tb));
    } else {
        rect.w = (MyRectNumber)(kiv_d2i(W) != 0 ? W - lr : cw);
        rect.h = (MyRectNumber)(kiv_d2i(H) != 0 ? H - tb : ch);
    }
    _align();
}

void Box::resize(int w, int h) {
    rect.w = (MyRectNumber)w;
    rect.h = (MyRectNumber)h;
    _align();
}

static MyRectNumber _align_at(int a, double space, double size) {
    long long free = kiv_d2i(space - size);
    long long k = _set(a) ? (long long)a + 1 : 1;
    return (MyRectNumber)_clamp_ll(k * free / 2);
}

void Box::_align() {
    Widget *c = _box_child(this);
    if (!c)
        return;
    const StyleData &s = style.data[STYLE_CUR];
    c->_rect.x = _align_at(s.align, rect.w, c->_rect.w);
    c->_rect.y = _align_at(s.valign, rect.h, c->_rect.h);
}

// --- public functions: table

int t_sum(int *a, int from, int to) {
    long long s = 0;
    for (int i = from; i < to; i++)
        s += a[i];
    return _clamp_ll(s);
}

int t_max(int a, int b) {
    return a > b ? a : b;
}

int t_div(int total, int n, int i) {
    if (n <= 0)
        return 0;
    int q = total / n, m = total % n;
    if (m == 0)
        return q;
    return (i % n < m) ? q + 1 : q;
}

bool t_sort_by_colspan(Widget *a, Widget *b) {
    return a->b_colspan < b->b_colspan;
}

bool t_sort_by_rowspan(Widget *a, Widget *b) {
    return a->b_rowspan < b->b_rowspan;
}

Table::Table() : row(-1), col(0) {
    me = new Widget();
    add(me, 0, 0);
    me->ignore = 1;
}

void Table::tr() {
    row = std::min(row + 1, KIV_GUI_TABLE_MAX - 1);
    col = 0;
}

// Cells stay inside the grid limit: a span below 1 counts as 1 and a position below 0 as 0.
static void _cell_fix(int &c, int &span) {
    c = std::max(0, std::min(c, KIV_GUI_TABLE_MAX - 1));
    span = std::max(1, std::min(span, KIV_GUI_TABLE_MAX - c));
}

void Table::td(Widget *w, int colspan, int rowspan, int c, int r) {
    if (!w)
        return;
    if (colspan < 1 || rowspan < 1 || c < -1 || r < -1)
        kiv_printf("Table::td: cell (%d, %d) span %d x %d taken as the nearest valid cell\n", c, r, colspan, rowspan);
    if (c != -1)
        col = c;
    if (r != -1)
        row = r;
    row = std::max(0, row);
    _cell_fix(col, colspan);
    _cell_fix(row, rowspan);
    w->b_col = col;
    w->b_row = row;
    w->b_colspan = colspan;
    w->b_rowspan = rowspan;
    col = std::min(col + colspan, KIV_GUI_TABLE_MAX - 1);
    add(w, 0, 0);
}

// Spreads what each child lacks over its columns (or rows), narrow spans first.
static void _table_spread(std::vector<Widget *> &ws, std::vector<int> &size, bool cols) {
    for (Widget *w : ws) {
        int c = cols ? w->b_col : w->b_row, span = cols ? w->b_colspan : w->b_rowspan;
        _cell_fix(c, span);
        double want = cols ? w->_rect.w : w->_rect.h;
        int have = t_sum(size.data(), c, c + span);
        if (have < want) {
            int need = kiv_d2i(want - have);
            for (int j = c; j < c + span; j++)
                size[j] = _clamp_ll((long long)size[j] + t_div(need, span, j));
        }
    }
}

void Table::resize() {
    Container::resize();
    int ncols = 0, nrows = 0;
    for (Widget *w : widgets) {
        int c = w->b_col, cs = w->b_colspan, r = w->b_row, rs = w->b_rowspan;
        _cell_fix(c, cs);
        _cell_fix(r, rs);
        ncols = std::max(ncols, c + cs);
        nrows = std::max(nrows, r + rs);
    }
    const StyleData &s = style.data[STYLE_CUR];
    me->b_col = me->b_row = 0;
    me->b_colspan = ncols;
    me->b_rowspan = nrows;
    me->_rect = MyRect(0, 0, _or0(s.width), _or0(s.height));
    if (ncols == 0 || nrows == 0) {
        rect.w = rect.h = 0;
        return;
    }
    // Stable: children of equal span keep their order, so painting, hit tests and navigation stay predictable.
    std::vector<int> cw(ncols, 0), rh(nrows, 0);
    std::stable_sort(widgets.begin(), widgets.end(), t_sort_by_colspan);
    _table_spread(widgets, cw, true);
    std::stable_sort(widgets.begin(), widgets.end(), t_sort_by_rowspan);
    _table_spread(widgets, rh, false);
    std::vector<int> xs(ncols + 1, 0), ys(nrows + 1, 0);
    for (int i = 0; i < ncols; i++)
        xs[i + 1] = _clamp_ll((long long)xs[i] + cw[i]);
    for (int i = 0; i < nrows; i++)
        ys[i + 1] = _clamp_ll((long long)ys[i] + rh[i]);
    for (Widget *w : widgets) {
        int c = w->b_col, cs = w->b_colspan, r = w->b_row, rs = w->b_rowspan;
        _cell_fix(c, cs);
        _cell_fix(r, rs);
        w->_rect.x = (MyRectNumber)xs[c];
        w->_rect.y = (MyRectNumber)ys[r];
        int cellw = _clamp_ll((long long)xs[c + cs] - xs[c]), cellh = _clamp_ll((long long)ys[r + rs] - ys[r]);
        if (w->_rect.w != (MyRectNumber)cellw || w->_rect.h != (MyRectNumber)cellh)
            w->_resize(cellw, cellh);
    }
    rect.w = (MyRectNumber)xs[ncols];
    rect.h = (MyRectNumber)ys[nrows];
}

// --- public functions: label

Label::Label(KivGuiFont f, const char *s) : fnt(f), txt(s ? s : "") {}

void Label::set_value_s(const char *s) {
    txt = s ? s : "";
}

var Label::event(Event *e) {
    return Widget::event(e);
}

// Without a style width the label is as wide as its text rounded up: a width cut down to whole units would be
// narrower than the text and wrap it onto a second line.
void Label::resize() {
    const StyleData &s = style.data[STYLE_CUR];
    if (_set(s.width))
        rect.w = s.width;
    else
        rect.w = (MyRectNumber)kiv_d2i(std::ceil(font_get_width(fnt.fid, txt.c_str())));
    rect.h = (MyRectNumber)fnt.get_height(txt.c_str(), kiv_d2i(rect.w));
}

void Label::paint() {
    const StyleData &s = style.data[STYLE_CUR];
    unsigned c = _set(s.color) ? (unsigned)s.color : 0xFFFFFFu;
    _gui_color(c, _set(s.alpha) ? (unsigned char)(s.alpha & 255) : 255);
    fnt.draw(txt.c_str(), 0, 0, kiv_d2i(rect.w), _set(s.align) ? s.align : -1);
    guiColor4ub(255, 255, 255, 255);
}

// --- public functions: text input

TextInput::TextInput(KivGuiFont f, const char *s, unsigned int _maxlen)
    : fnt(f), txt(s ? s : ""), undo_n(0), _pos(0), pos(0), cursor_w(2), cx(-1), maxlen(_maxlen), passwd(0), reveal(0),
      wrap(0), encoding(0) {
    if (txt.size() > maxlen)
        maxlen = (unsigned int)std::min(txt.size(), (size_t)UINT_MAX);
    useful = 1;
    _mktxt2();
    style.loop();
    resize();
    _adjust(false, false);
}

const char *TextInput::get_value_s() {
    return txt.c_str();
}

void TextInput::set_value_s(const char *s) {
    _change(0, (int)std::min(txt.size(), (size_t)INT_MAX), s ? s : "");
    view.x = view.y = 0;
}

var TextInput::get_value() {
    return var(txt);
}

void TextInput::set_value(var v) {
    set_value_s(v.__str__().c_str());
}

int TextInput::_ww(bool sizing) {
    if (!wrap)
        return 0;
    return sizing ? kiv_d2i(rect.w) : kiv_d2i((double)rect.w - cursor_w);
}

// The text may have been replaced from outside (txt is public): every index is brought back inside it before use.
void TextInput::_clamp() {
    int len = (int)std::min(txt.size(), (size_t)INT_MAX);
    pos = std::max(0, std::min(pos, len));
    _pos = std::max(0, std::min(_pos, len));
    undo_n = std::max(0, std::min(undo_n, (int)undo.size()));
}

void TextInput::_change(int p, int n, std::string b) {
    long long len = (long long)txt.size();
    if (p < 0 || n < 0)
        return;
    if ((long long)p + n > len)
        n = (int)(len - p);
    if (n < 0)
        return;
    // A text already over the limit (the limit lowered from outside) may still shrink; it only may not grow.
    long long keep = (long long)maxlen - (len - n);
    if ((long long)b.size() > std::max(0LL, keep))
        b.resize((size_t)std::max(0LL, keep));
    b = _filter(b);
    TextInputChange ch;
    ch.p = pos;
    ch.pos = p;
    ch.a = txt.substr((size_t)p, (size_t)n);
    ch.b = b;
    _apply(p, n, b);
    pos = _pos = _clamp_ll((long long)p + (long long)b.size());
    _clamp();
    undo.resize((size_t)undo_n);
    undo.push_back(ch);
    undo_n += 1;
    if (undo_n > KIV_GUI_UNDO_MAX) {
        undo.erase(undo.begin());
        undo_n -= 1;
    }
}

void TextInput::_apply(int p, int n, std::string v) {
    size_t len = txt.size();
    size_t at = (size_t)std::max(0, p);
    if (at > len)
        at = len;
    size_t cut = std::min((size_t)std::max(0, n), len - at);
    txt = txt.substr(0, at) + v + txt.substr(at + cut);
    _mktxt2();
}

void TextInput::_undo() {
    _clamp();
    if (undo_n <= 0)
        return;
    undo_n -= 1;
    const TextInputChange ch = undo[(size_t)undo_n];
    _apply(ch.pos, (int)std::min(ch.b.size(), (size_t)INT_MAX), ch.a);
    pos = _pos = ch.p;
    _clamp();
}

void TextInput::_redo() {
    _clamp();
    if (undo_n >= (int)undo.size())
        return;
    const TextInputChange ch = undo[(size_t)undo_n];
    _apply(ch.pos, (int)std::min(ch.a.size(), (size_t)INT_MAX), ch.b);
    pos = _pos = _clamp_ll((long long)ch.pos + (long long)ch.b.size());
    undo_n += 1;
    _clamp();
}

std::string TextInput::_filter(std::string ct) {
    const int maxc = _encoding_maxchar();
    for (char &ch : ct) {
        unsigned char c = (unsigned char)ch;
        if (!wrap && c == 10)
            c = ' ';
        if (c != 10 && (c < 32 || c >= maxc))
            c = '?';
        ch = (char)c;
    }
    return ct;
}

void TextInput::_mktxt2() {
    if (!passwd) {
        txt2 = txt;
        return;
    }
    size_t n = txt.size();
    if (reveal && n > 0)
        txt2 = std::string(n - 1, '*') + txt[n - 1];
    else
        txt2 = std::string(n, '*');
}

void TextInput::_click(int x, int y, bool both) {
    pos = fnt.cnear(txt2.c_str(), x, y, _ww(false), -1);
    if (both)
        _pos = pos;
    _clamp();
}

void TextInput::_adjust(bool _cx, bool cursor) {
    if (_cx)
        cx = -1;
    int ww = _ww(false);
    int w = fnt.get_width(txt2.c_str(), ww), h = fnt.get_height(txt2.c_str(), ww);
    if (cursor) {
        GfxRect r = fnt.crect(txt2.c_str(), pos, ww, -1);
        if (r.x < view.x)
            view.x = r.x;
        if (r.x + cursor_w > view.x + rect.w)
            view.x = r.x + cursor_w - rect.w;
        if (r.y < view.y)
            view.y = r.y;
        if (r.y + r.h > view.y + rect.h)
            view.y = r.y + r.h - rect.h;
    }
    view.x = (MyRectNumber)std::max(0, std::min(kiv_d2i((double)w - rect.w + cursor_w), kiv_d2i(view.x)));
    view.y = (MyRectNumber)std::max(0, std::min(kiv_d2i((double)h - rect.h), kiv_d2i(view.y)));
}

int TextInput::_encoding_minchar() {
    return 32;
}

int TextInput::_encoding_maxchar() {
    return encoding == 1 ? 255 : 127;
}

int TextInput::_min(int a, int b) {
    return a < b ? a : b;
}

int TextInput::_max(int a, int b) {
    return a > b ? a : b;
}

int TextInput::_abs(int a) {
    return a < 0 ? -a : a;
}

void TextInput::_delete_selection() {
    _clamp();
    _change(_min(_pos, pos), _abs(_pos - pos), "");
}

void TextInput::_copy_selection() {
    _clamp();
    if (passwd)
        return;
    int a = _min(_pos, pos), b = _max(_pos, pos);
    driver_clipboard_set_text(txt.substr((size_t)a, (size_t)(b - a)));
}

var TextInput::event(Event *e) {
    if (!e)
        return var();
    _clamp();
    if (e->type == EVT_KEYDOWN)
        return _event_key(e);
    if (e->type == EVT_KEYUP)
        return var();
    var r = Widget::event(e);
    if (!_none(r))
        return r;
    _event_pointer(e);
    return var();
}

// Clicks, focus changes and the pointer: positions are in text coordinates, the view's scroll added.
void TextInput::_event_pointer(Event *e) {
    const int ex = kiv_d2i((double)e->x + view.x), ey = kiv_d2i((double)e->y + view.y);
    switch (e->type) {
    case EVT_CLICK:
        if (e->v != KIV_GUI_CLICK_KEYBOARD) {
            kiv_printf("input:evt_click\n");
            reveal = 0;
            MyRect r = get_abs_rect(true);
            gfx_focus(GfxRect(r.x, r.y, r.w, r.h));
            driver_keyboard_show();
        }
        break;
    case EVT_FOCUS:
        kiv_printf("evt_focus\n");
        if (!wrap) {
            _pos = 0;
            pos = (int)std::min(txt.size(), (size_t)INT_MAX);
        }
        _adjust(true, true);
        break;
    case EVT_BLUR:
        reveal = 0;
        driver_keyboard_hide();
        gfx_blur();
        if (!wrap)
            view.x = view.y = 0;
        _adjust(false, false);
        break;
    case EVT_DOWN:
        kiv_printf("evt_down\n");
        _click(ex, ey, true);
        _adjust(true, true);
        break;
    case EVT_MOTION:
        if (style.focus && e->b != 0) {
            _click(ex, ey, false);
            _adjust(true, true);
        }
        break;
    case EVT_UP:
        _click(ex, ey, false);
        _adjust(true, true);
        break;
    case EVT_WHEEL:
        view.y = (MyRectNumber)((double)view.y + (double)fnt.get_height(nullptr, 0) * e->dy);
        _adjust(false, false);
        break;
    default:
        break;
    }
}

// Backspace and delete: the selection when there is one, else the character before or at the cursor.
void TextInput::_key_erase(int key) {
    if (_pos != pos)
        _delete_selection();
    else if (key == KEY_BACKSPACE && pos > 0)
        _change(pos - 1, 1, "");
    else if (key == KEY_DELETE)
        _change(pos, 1, "");
    _adjust(true, true);
}

// Left and right: one character, or to the selection's edge when one is taken without shift.
void TextInput::_key_step(int key, bool shift) {
    const int len = (int)std::min(txt.size(), (size_t)INT_MAX);
    if (_pos == pos || shift) {
        if (key == KEY_LEFT && pos > 0)
            pos -= 1;
        if (key == KEY_RIGHT && pos < len)
            pos += 1;
        if (!shift)
            _pos = pos;
    } else {
        pos = _pos = key == KEY_LEFT ? _min(_pos, pos) : _max(_pos, pos);
    }
    _adjust(true, true);
}

// Up and down (wrapped text only) keep the column the cursor started in; home and end go to the line's ends.
void TextInput::_key_line(int key, bool shift) {
    const int ww = _ww(false);
    GfxRect r = fnt.crect(txt2.c_str(), pos, ww, -1);
    if (key == KEY_UP || key == KEY_DOWN) {
        if (cx == -1)
            cx = kiv_d2i(r.x + r.w / 2);
        int y = key == KEY_UP ? kiv_d2i(r.y - r.h / 2) : kiv_d2i(r.y + r.h + r.h / 2);
        _click(cx, y, !shift);
        _adjust(false, true);
        return;
    }
    int x = key == KEY_HOME ? 0 : fnt.get_width(txt2.c_str(), ww);
    _click(x, kiv_d2i(r.y + r.h / 2), !shift);
    _adjust(true, true);
}

var TextInput::_event_key(Event *e) {
    if (e->v == KEY_RETURN && !wrap) {
        driver_keyboard_hide();
        return onchange;
    }
    reveal = 0;
    const bool shift = (e->b & KIV_MOD_SHIFT) != 0, ctrl = (e->b & (KIV_MOD_CTRL | KIV_MOD_GUI)) != 0;
    if (ctrl && _event_ctrl(e->v, shift))
        return var();
    int c = e->c;
    switch (e->v) {
    case KEY_TAB:
        return Widget::event(e);
    case KEY_BACKSPACE:
    case KEY_DELETE:
        _key_erase(e->v);
        return var();
    case KEY_LEFT:
    case KEY_RIGHT:
        _key_step(e->v, shift);
        return var();
    case KEY_UP:
    case KEY_DOWN:
        if (!wrap)
            return Widget::event(e);
        _key_line(e->v, shift);
        return var();
    case KEY_HOME:
    case KEY_END:
        _key_line(e->v, shift);
        return var();
    case KEY_RETURN:
        c = 10;
        break;
    default:
        break;
    }
    // Typed characters, and keys that are none of the above.
    if (c == 10 || (_encoding_minchar() <= c && c < _encoding_maxchar())) {
        _change(_min(_pos, pos), _abs(_pos - pos), std::string(1, (char)c));
        _adjust(true, true);
    }
    return var();
}

// The Ctrl (or GUI) shortcuts: undo, redo, cut, copy, paste, select all. False for any other key, which then
// types its character.
bool TextInput::_event_ctrl(int key, bool shift) {
    switch (key) {
    case KEY_z:
        if (shift)
            _redo();
        else
            _undo();
        break;
    case KEY_x:
        _copy_selection();
        _delete_selection();
        break;
    case KEY_c:
        _copy_selection();
        return true;
    case KEY_v:
        _change(_min(_pos, pos), _abs(_pos - pos), driver_clipboard_get_text());
        break;
    case KEY_a:
        _pos = 0;
        pos = (int)std::min(txt.size(), (size_t)INT_MAX);
        break;
    default:
        return false;
    }
    _adjust(true, true);
    return true;
}

void TextInput::paint() {
    _clamp();
    _mktxt2();
    const int ww = _ww(false);
    const float vx = view.x, vy = view.y;
    _enable_clip();
    gfx_translate(-vx, -vy);
    if (!style.focus) {
        fnt.draw(txt2.c_str(), 0, 0, ww, -1);
    } else {
        GfxRect cr = fnt.crect(txt2.c_str(), pos, ww, -1);
        if (_pos != pos) {
            GfxRect r1 = fnt.crect(txt2.c_str(), _min(_pos, pos), ww, -1);
            GfxRect r2 = fnt.crect(txt2.c_str(), _max(_pos, pos), ww, -1);
            if (r1.y == r2.y) {
                gfx_fill(_GUI_SELECTION, r1.x, r1.y, r2.x - r1.x, r1.h);
            } else {
                gfx_fill(_GUI_SELECTION, r1.x, r1.y, ww - r1.x, r1.h);
                gfx_fill(_GUI_SELECTION, 0, r1.y + r1.h, (float)ww, r2.y - (r1.y + r1.h));
                gfx_fill(_GUI_SELECTION, 0, r2.y, r2.x, r2.h);
            }
        }
        fnt.draw(txt2.c_str(), 0, 0, ww, -1);
        gfx_fill(_GUI_CURSOR, cr.x, cr.y, (float)cursor_w, cr.h);
    }
    gfx_translate(vx, vy);
    _disable_clip();
}

void TextInput::resize() {
    const StyleData &s = style.data[STYLE_CUR];
    int ww = _ww(true);
    rect.h = _set(s.height) ? s.height : (MyRectNumber)fnt.get_height(txt.c_str(), ww);
    if (_set(s.width))
        rect.w = s.width;
    else
        rect.w = (MyRectNumber)kiv_d2i(std::max((double)rect.h, (double)fnt.get_width(txt.c_str(), 0)));
}
