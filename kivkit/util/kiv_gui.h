// Retained widget toolkit: widgets, containers that route events, focus, hover and keyboard navigation, animated
// styles, the box model (Theme), boxes, tables, labels and the text input. Trees are built in code by their owner,
// who drives the root once per frame. Layout, routing and editing run without a window; drawing needs one.
#pragma once

#include <string>
#include <vector>

#include "kiv_event.h"
#include "kiv_gfx.h"
#include "kiv_var.h"

// --- rectangles

typedef float MyRectNumber;

struct MyRect {
    MyRectNumber x, y, w, h;
    MyRect(MyRectNumber x_ = 0, MyRectNumber y_ = 0, MyRectNumber w_ = 0, MyRectNumber h_ = 0)
        : x(x_), y(y_), w(w_), h(h_) {}
    int get_left() const;
    int get_top() const;
    int get_right() const;
    int get_bottom() const;
    int get_centerx() const;
    int get_centery() const;
};

// --- styles

#define STYLE_UNSET (-16777215)

enum { STYLE_TOP = 0, STYLE_RIGHT = 1, STYLE_BOTTOM = 2, STYLE_LEFT = 3 };
enum { STYLE_NONE = 0, STYLE_CUR, STYLE_HOVER, STYLE_FOCUS, STYLE_ACTIVE, STYLE_ALT, STYLE_MAX };

class StyleData {
public:
    struct Draw {
        int image, color, alpha, edge, tile;
        Draw();
    };

    MyRectNumber width, height;
    int clip, align, valign;
    int color, alpha;
    int border[4];
    int border_color;
    int padding[4];
    int margin[4];
    Draw background, overlay;
    int sfx_onclick, sfx_ondown, sfx_onup, sfx_onenter, sfx_onfocus;

    StyleData();
    // One value sets all four sides: every unset argument repeats the top value.
    void set_border(int top, int right = STYLE_UNSET, int bottom = STYLE_UNSET, int left = STYLE_UNSET);
    void set_margin(int top, int right = STYLE_UNSET, int bottom = STYLE_UNSET, int left = STYLE_UNSET);
    void set_padding(int top, int right = STYLE_UNSET, int bottom = STYLE_UNSET, int left = STYLE_UNSET);
};

class StyleSheet : public StyleData {
public:
    StyleData data[STYLE_MAX]; // data[STYLE_CUR] is the live style that layout and painting read
    int hover, focus, active, alt, state;

    StyleSheet();
    void restate();
    void loop(); // one animation step of the live style
};

int i_prep(int cur, int target, int step);
int c_prep(int cur, int target, int step);
int n_prep(int cur, int target, int step);

// --- drawing adapters

class KivGuiFont {
public:
    int fid;
    KivGuiFont(int fid_ = 0) : fid(fid_) {}
    int get_height(const char *s, int w);
    int get_width(const char *s, int w); // w itself when w is not 0
    void draw(const char *s, int x, int y, int w, int align);
    GfxRect crect(const char *s, int pos, int w, int align);
    int cnear(const char *s, int x, int y, int w, int align);
};

// Sets the premultiplied current colour; nothing without a graphics module.
void guiColor4ub(unsigned char r, unsigned char g, unsigned char b, unsigned char a);

// --- widgets

// Markers a container leaves in the v of an event it hands down, reusing the codes of the events they stand for: a
// press that moved the focus, and a click made by releasing Space or Return.
enum { KIV_GUI_PRESS_FOCUSED = EVT_FOCUS, KIV_GUI_CLICK_KEYBOARD = EVT_KEYUP };

class Container;

class Widget {
public:
    int _type;
    Container *parent; // not owning
    Widget *next;      // Tab target, not owning
    MyRect rect;       // content box: offset inside the outer box, content size
    MyRect _rect;      // outer box in the parent's content coordinates
    MyRect view;       // scroll offset of the content
    var onclick, ondown, onup, onmove, onchange, onenter, onexit, onfocus;
    std::string name;
    StyleSheet style;
    int ignore;
    int useful;
    int b_col, b_row, b_colspan, b_rowspan;
    int b_x, b_y;

    Widget();
    virtual Widget *find(const char *name);
    virtual const char *get_value_s();
    virtual void set_value_s(const char *s);
    virtual int get_value_i();
    virtual void set_value_i(int v);
    virtual var get_value();
    virtual void set_value(var v);
    virtual var _focus();
    virtual var _hover();
    virtual Widget *find_hover();
    virtual var active();
    virtual std::vector<Widget *> _list_descendants();
    virtual bool _is_focus();
    virtual var event(Event *e);
    virtual void loop();
    virtual void paint();
    virtual void resize();
    virtual void resize(int w, int h);
    virtual var _event(Event *e);
    virtual void _paint();
    virtual void _resize();
    virtual void _resize(int w, int h);
    virtual ~Widget();

    Widget *_find_top();
    var _nav(int dx, int dy);
    MyRect get_abs_rect(bool inc_style);
    void _enable_clip();
    void _disable_clip();
};

class Container : public Widget {
public:
    std::vector<Widget *> widgets; // owned; painting order, the last is the topmost
    Widget *hover;                 // not owning
    Widget *focus;                 // not owning
    int first;

    Container();
    Container(const Container &) = delete;
    // Takes the Widget part of other, deletes every own child; other's children are not copied.
    Container &operator=(const Container &other);
    ~Container() override;

    void add(Widget *w, int x, int y);
    Widget *find(const char *name) override;
    Widget *find_hover() override;
    std::vector<Widget *> _list_descendants() override;
    bool _is_focus() override;
    var event(Event *e) override;
    void loop() override;
    void paint() override;
    void resize() override;
    using Widget::resize;
    void _find_focus();
    void _container_destroy();
};

// The box model around every widget: margin, border, padding, the two drawing layers and the click sounds.
class Theme {
public:
    static void resize(Widget *w);
    static void resize(Widget *w, int width, int height);
    static var event(Widget *w, Event *e);
    static void paint(Widget *w);
};

// A container of exactly one child that gives it a minimum (or, clipped, an exact) size and aligns it.
class Box : public Container {
public:
    explicit Box(Widget *content);
    void paint() override;
    void resize() override;
    void resize(int w, int h) override;
    virtual void _align();
};

// Largest column or row index a table cell may use; keeps a stray index from allocating a huge grid.
#define KIV_GUI_TABLE_MAX 4096

class Table : public Container {
public:
    int row;
    int col;
    Widget *me; // owned placeholder spanning the grid, carrying the table's style size

    Table();
    void tr();
    void td(Widget *w, int colspan = 1, int rowspan = 1, int col = -1, int row = -1);
    void resize() override;
    using Container::resize;
};

int t_sum(int *a, int from, int to);
int t_max(int a, int b);
int t_div(int total, int n, int i);
bool t_sort_by_colspan(Widget *a, Widget *b);
bool t_sort_by_rowspan(Widget *a, Widget *b);

class Label : public Widget {
public:
    KivGuiFont fnt;
    std::string txt;

    Label(KivGuiFont f, const char *s);
    void set_value_s(const char *s) override;
    var event(Event *e) override;
    void paint() override;
    void resize() override;
    using Widget::resize;
};

// --- text input

#define KIV_GUI_UNDO_MAX 255

struct TextInputChange {
    int p = 0;   // cursor before the change
    int pos = 0; // where the change happened
    std::string a, b;
};

class TextInput : public Widget {
public:
    KivGuiFont fnt;
    std::string txt;
    std::string txt2;
    std::vector<TextInputChange> undo;
    int undo_n;
    int _pos; // selection anchor
    int pos;  // cursor
    int cursor_w;
    int cx;
    unsigned int maxlen;
    int passwd;
    int reveal;
    int wrap;
    int encoding;

    TextInput(KivGuiFont f, const char *s, unsigned int _maxlen);
    const char *get_value_s() override;
    void set_value_s(const char *s) override;
    var get_value() override;
    void set_value(var v) override;
    var event(Event *e) override;
    void paint() override;
    void resize() override;
    using Widget::resize;

    void _change(int p, int n, std::string b);
    void _apply(int p, int n, std::string v);
    void _undo();
    void _redo();
    std::string _filter(std::string ct);
    void _mktxt2();
    void _click(int x, int y, bool both);
    void _adjust(bool _cx, bool cursor);
    int _encoding_minchar();
    int _encoding_maxchar();
    int _min(int a, int b);
    int _max(int a, int b);
    int _abs(int a);

private:
    int _ww(bool sizing);
    void _clamp();
    void _delete_selection();
    void _copy_selection();
    void _event_pointer(Event *e);
    var _event_key(Event *e);
    void _key_erase(int key);
    void _key_step(int key, bool shift);
    void _key_line(int key, bool shift);
    bool _event_ctrl(int key, bool shift);
};
