// Widget toolkit without a window: event routing, focus and navigation, style animation, layout and text editing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kiv_font.h"
#include "kiv_font_int.h"
#include "kiv_gui.h"

namespace {

// Every printable glyph advances 10 units; lines are 20 high. Measures without a page texture.
int grid_font() {
    static int n = 0;
    std::string s = "common lineHeight=20 base=16 scaleW=256 scaleH=128 pages=1\n";
    for (int id = 32; id < 127; id++)
        s += "char id=" + std::to_string(id) + " x=0 y=0 width=8 height=16 xoffset=0 yoffset=0 xadvance=10\n";
    int id = _font_add(("gui" + std::to_string(++n) + ":20").c_str(), 0, 20, "");
    _font_parse(id, s);
    return id;
}

// Records what reaches it as "name:type/v@x,y" and answers like a plain widget.
struct Probe : Widget {
    std::string *log;
    Probe(const char *n, std::string *l, float w, float h) : log(l) {
        name = n;
        useful = 1;
        style.width = w;
        style.height = h;
    }
    var event(Event *e) override {
        *log += name + ":" + std::to_string(e->type) + "/" + std::to_string(e->v) + "@" + std::to_string((int)e->x) +
                "," + std::to_string((int)e->y) + " ";
        return Widget::event(e);
    }
};

Event ev(int type, float x = 0, float y = 0, int v = 0, int b = 0) {
    Event e(type);
    e.x = x, e.y = y, e.v = v, e.b = b;
    return e;
}

class Gui : public ::testing::Test {
protected:
    void SetUp() override { font_init(); }
    void TearDown() override { font_deinit(); }
};

TEST_F(Gui, RoutesPointerAndKeysWithFocusMarkers) {
    std::string log;
    Container root;
    Probe *a = new Probe("a", &log, 50, 20), *b = new Probe("b", &log, 50, 20);
    root.add(a, 0, 0);
    root.add(b, 40, 0); // overlaps a from x 40 to 49
    root.resize();
    struct Row {
        const char *name;
        Event e;
        const char *want;
    } rows[] = {
        {"press in the overlap: topmost, v 24 after its focus", ev(EVT_DOWN, 45, 5),
         "b:26/0@0,0 b:24/0@0,0 b:8/24@5,5 "},
        {"second press: v 0", ev(EVT_DOWN, 45, 5), "b:8/0@5,5 "},
        {"release over the focus: release, then click", ev(EVT_UP, 60, 5), "b:10/0@20,5 b:28/0@20,5 "},
        {"right edge outside: release at 90, no click", ev(EVT_UP, 90, 5), "b:27/0@0,0 b:10/0@50,5 "},
        {"held motion: no new hover, to the focus", ev(EVT_MOTION, 10, 5, 0, 1), "b:9/0@-30,5 "},
        {"space released: click at the centre with v 7", ev(EVT_KEYUP, 0, 0, KEY_SPACE), "b:7/27@-40,0 b:28/7@25,10 "},
        {"orient: every child, topmost first, as is", ev(EVT_ORIENT, 3, 4), "b:19/0@3,4 a:19/0@3,4 "},
    };
    for (const Row &r : rows) {
        log.clear();
        Event e = r.e;
        root.event(&e);
        EXPECT_EQ(log, r.want) << r.name;
    }
    b->onclick = var("B");
    Event up = ev(EVT_UP, 45, 5);
    EXPECT_EQ(root.event(&up).__str__(), "B") << "the answer is the reacting widget's callback value";
    Container *inner = new Container();
    root.add(inner, 0, 0), root.add(b, 0, 0), inner->add(&root, 0, 0);
    EXPECT_TRUE(root.widgets.size() == 3 && inner->widgets.empty()) << "no widget twice, no container in itself";
    root = Container();
    EXPECT_TRUE(root.widgets.empty() && !root.hover && !root.focus) << "assigning an empty container drops the tree";
}

TEST_F(Gui, NavigatesByWeightedDistanceAndTab) {
    std::string log;
    Container root;
    // gap: right of o, gap 20, centres level (distance 20); low: gap 0, centre 10 lower, counted twice (also 20,
    // but later in pre-order); up: above.
    const char *names[] = {"o", "gap", "low", "tie", "up"};
    const int at[][2] = {{100, 100}, {130, 100}, {110, 110}, {100, 120}, {100, 0}};
    Probe *w[5];
    for (int i = 0; i < 5; i++)
        root.add(w[i] = new Probe(names[i], &log, 10, 10), at[i][0], at[i][1]);
    Probe *o = w[0], *gap = w[1], *low = w[2], *tie = w[3], *up = w[4];
    root.resize();
    root.loop(); // first focus: the first useful widget
    ASSERT_TRUE(o->style.focus);
    struct Row {
        int key;
        Widget *from, *want;
    } rows[] = {{KEY_RIGHT, o, gap}, {KEY_LEFT, gap, o}, {KEY_UP, o, up}, {KEY_DOWN, up, o}};
    for (const Row &r : rows) {
        Event e = ev(EVT_KEYDOWN, 0, 0, r.key);
        root.event(&e);
        EXPECT_TRUE(r.want->style.focus) << "key " << r.key << " from " << r.from->name << " to " << r.want->name;
    }
    EXPECT_TRUE(o->_nav(-1, 0).__type__() == VAR_NONE && o->style.focus) << "nothing to the left";
    EXPECT_TRUE(low->_nav(1, 0).__type__() == VAR_NONE) << "a widget without focus does not navigate";
    o->next = tie;
    Event tab = ev(EVT_KEYDOWN, 0, 0, KEY_TAB);
    EXPECT_EQ(root.event(&tab).__type__(), VAR_NONE);
    EXPECT_TRUE(tie->style.focus && !o->style.focus) << "Tab follows next";
}

TEST_F(Gui, StylesAnimateByTheirSteps) {
    typedef int &(*Field)(StyleData &);
    Field colour = [](StyleData &d) -> int & { return d.color; }, alpha = [](StyleData &d) -> int & { return d.alpha; };
    Field margin = [](StyleData &d) -> int & { return d.margin[STYLE_LEFT]; };
    struct Row {
        const char *name;
        Field f;
        int from, to;
        std::vector<int> want;
    } rows[] = {
        {"black to white", colour, 0, 0xFFFFFF, {0x242424, 0x484848, 0x6C6C6C, 0x909090, 0xB4B4B4, 0xD8D8D8, 0xFCFCFC}},
        {"white lands on 255 at the eighth step", colour, 0xFCFCFC, 0xFFFFFF, {0xFFFFFF}},
        {"red to green", colour, 0xFF0000, 0x00FF00, {0xDB2400, 0xB74800}},
        {"alpha 255 to 0", alpha, 255, 0, {219, 183, 147, 111, 75, 39, 3, 0}},
        {"margin 0 to 5", margin, 0, 5, {1, 2, 3, 4, 5, 5}},
    };
    for (const Row &r : rows) {
        StyleSheet s;
        r.f(s) = r.from;
        s.loop();
        r.f(s) = r.to;
        for (size_t i = 0; i < r.want.size(); i++) {
            s.loop();
            EXPECT_EQ(r.f(s.data[STYLE_CUR]), r.want[i]) << r.name << ", step " << i + 1;
        }
    }
    StyleSheet w;
    w.width = 10.5f, w.loop();
    w.width = 200.7f, w.loop();
    EXPECT_EQ(w.data[STYLE_CUR].width, 200.0f) << "sizes step on truncated values";
    w.width = 2500, w.data[STYLE_CUR].width = 0, w.loop();
    EXPECT_EQ(w.data[STYLE_CUR].width, 1000.0f);

    StyleSheet h;
    h.color = 1;
    h.data[STYLE_HOVER].align = 1;
    h.data[STYLE_ALT].color = 2;
    h.data[STYLE_FOCUS].color = 3;
    for (int hover : {1, 0})
        h.hover = hover, h.restate(), h.loop();
    EXPECT_EQ(h.data[STYLE_CUR].align, 1) << "a hover-only value stays after leaving";
    h.hover = h.focus = 1, h.restate(), h.loop();
    EXPECT_EQ(h.state, STYLE_ACTIVE);
    EXPECT_EQ(h.data[STYLE_CUR].color, 1) << "active leaves colour unset: the normal style applies, not focus";
    h.alt = 1, h.loop();
    EXPECT_EQ(h.data[STYLE_CUR].color, 2) << "alt wins";
    h.set_margin(4, STYLE_UNSET, 2, STYLE_UNSET);
    EXPECT_EQ(std::vector<int>(h.margin, h.margin + 4), (std::vector<int>{4, 4, 2, 4}));
}

TEST_F(Gui, LaysOutBoxesTablesAndLabels) {
    KivGuiFont f(grid_font());
    Widget w; // box model: margin 2, border 1, padding 3 around 10 x 10
    w.style.width = w.style.height = 10;
    w.style.set_margin(2), w.style.set_border(1), w.style.set_padding(3);
    w.style.loop(), w._resize();
    EXPECT_TRUE(w.rect.x == 6 && w._rect.w == 22) << w.rect.x << " " << w._rect.w;
    w.style.border_color = 0xFF0000, w.style.background.image = 1, w.style.background.tile = 0, w.style.loop();
    w._paint(); // no graphics module: drawing is a no-op

    struct BoxRow {
        int align, child_w;
        float want_x;
    } boxes[] = {{STYLE_UNSET, 30, 30}, {-1, 30, 0}, {1, 30, 60}, {STYLE_UNSET, 31, 29}};
    for (const BoxRow &r : boxes) {
        Widget *c = new Widget();
        c->style.width = (float)r.child_w;
        Box b(c);
        b.style.width = 100;
        b.style.set_padding(5);
        b.style.align = r.align;
        b.style.loop();
        b._resize();
        EXPECT_EQ(b.rect.w, 90);
        EXPECT_EQ(c->_rect.x, r.want_x) << "align " << r.align << " child " << r.child_w;
    }

    struct TableRow {
        const char *name;
        int start, span_w;
        std::vector<float> want; // x of each child in the first row, then the total width
    } tables[] = {{"spanning 120 over 40 and 60", 0, 120, {0, 50, 120}},
                  {"spanning 121: the odd unit goes to column 0", 0, 121, {0, 51, 121}},
                  {"span from column 1, need 21", 1, 81, {0, 40, 121}}};
    for (const TableRow &r : tables) {
        Table t;
        Widget *a = new Widget(), *b = new Widget(), *s = new Widget();
        a->style.width = 40, b->style.width = 60, s->style.width = (float)r.span_w;
        t.td(a); // before any tr: row 0
        t.td(b), t.tr(), t.td(s, 2, 1, r.start), t.resize();
        EXPECT_EQ(a->b_row, 0) << r.name;
        EXPECT_EQ((std::vector<float>{a->_rect.x, b->_rect.x, t.rect.w}), r.want) << r.name;
    }
    Table g;
    Widget *z = new Widget(), *n = new Widget(), *p = new Widget(), *q = new Widget();
    g.td(z, 0, -3, -7, 2); // spans below 1 and a negative column land in a valid cell
    g.td(p), g.td(q), g.td(n, 1, 1, 5), g.resize();
    EXPECT_TRUE(z->b_colspan == 1 && z->b_rowspan == 1 && z->b_col == 0);
    EXPECT_TRUE(g.widgets[0] == z && g.widgets[1] == p && g.widgets[2] == q && g.widgets[3] == n)
        << "equal spans keep their order";

    _font_get(f.fid)->shapes['q'].w = 10.3f;
    struct LabelRow {
        const char *text;
        float style_w, w, h;
    } labels[] = {{"ab", STYLE_UNSET, 20, 20},
                  {"abc\nx", STYLE_UNSET, 30, 40},
                  {"aa bb", 30, 30, 40},
                  {"qq", STYLE_UNSET, 21, 20}}; // a fractional width must not wrap the label's own text
    for (const LabelRow &r : labels) {
        Label l(f, r.text);
        l.style.width = r.style_w;
        l.style.loop(), l.resize();
        EXPECT_TRUE(l.rect.w == r.w && l.rect.h == r.h) << r.text << ": " << l.rect.w << "x" << l.rect.h;
    }
}

struct Key {
    int v, c, mods;
};
Key C(int c) {
    return {0, c, 0};
}
Key K(int v, int mods = 0) {
    return {v, 0, mods};
}

TEST_F(Gui, EditsTextWithSelectionHistoryAndLimits) {
    KivGuiFont f(grid_font());
    struct Row {
        const char *name;
        const char *start;
        unsigned maxlen;
        std::vector<Key> keys;
        const char *want;
        int want_pos;
    } rows[] = {
        {"typing", "", 10, {C('a'), C('b')}, "ab", 2},
        {"full field ignores a character", "abcde", 5, {K(KEY_END), C('x')}, "abcde", 5},
        {"code point 233 in ASCII is dropped", "", 5, {C(233)}, "", 0},
        {"backspace and delete", "abcd", 9, {K(KEY_END), K(KEY_BACKSPACE), K(KEY_HOME), K(KEY_DELETE)}, "bc", 0},
        {"left with a selection collapses to its start", "abcd", 9, {K(KEY_a, 2), K(KEY_LEFT)}, "abcd", 0},
        {"shift+right extends", "abcd", 9, {K(KEY_HOME), K(KEY_RIGHT, 1), K(KEY_RIGHT, 1), C('z')}, "zcd", 1},
        {"undo: the cursor before the undone character", "", 9, {C('a'), C('b'), C('c'), K(KEY_z, 2)}, "ab", 2},
        {"ctrl+shift+z redoes", "", 9, {C('a'), C('b'), K(KEY_z, 2), K(KEY_z, 3)}, "ab", 2},
        {"an edit after undo clears redo", "", 9, {C('a'), K(KEY_z, 2), C('b'), K(KEY_z, 3)}, "b", 1},
    };
    for (const Row &r : rows) {
        TextInput t(f, r.start, r.maxlen);
        for (const Key &k : r.keys) {
            Event e = ev(EVT_KEYDOWN, 0, 0, k.v, k.mods);
            e.c = k.c;
            t.event(&e);
        }
        EXPECT_EQ(t.txt, r.want) << r.name;
        EXPECT_EQ(t.pos, r.want_pos) << r.name;
    }

    TextInput t(f, "abcd", 5);
    t._change(4, 0, "xyz");
    EXPECT_EQ(t.txt, "abcdx") << "the length limit cuts an insert";
    t._change(0, 5, "a\tb\nc");
    EXPECT_EQ(t.txt, "a?b c") << "tab becomes ?, line feed a space without wrap";
    t.wrap = 1, t._change(0, 5, "a\nb");
    EXPECT_EQ(t.txt, "a\nb");
    for (int i = 0; i < 300; i++)
        t._change(0, 0, "");
    EXPECT_EQ(t.undo.size(), 255u) << "the history keeps 255 entries";

    TextInput s(f, "", 3);
    s.set_value_s("abcdef");
    EXPECT_TRUE(s.txt == "abc" && s.pos == 3) << "set_value_s is limited and leaves the cursor at the end";
    Event bs = ev(EVT_KEYDOWN, 0, 0, KEY_BACKSPACE);
    s.maxlen = 1, s.event(&bs);
    EXPECT_EQ(s.txt, "ab") << "a limit below the length still lets the text shrink";
    s.txt = "";
    Event ops[] = {ev(EVT_KEYDOWN, 0, 0, KEY_z, 2), ev(EVT_KEYDOWN, 0, 0, KEY_z, 3), ev(EVT_KEYDOWN, 0, 0, KEY_c, 2)};
    for (Event &e : ops)
        s.event(&e); // indexes past an outside change: no abort
    EXPECT_EQ(s.pos, (int)s.txt.size());
    s.set_value_s(nullptr);
    TextInput nul(f, nullptr, 4);
    Label nl(f, nullptr);
    EXPECT_TRUE(s.txt.empty() && nul.txt.empty() && nl.txt.empty() && !nul.find(nullptr));

    TextInput pw(f, "abc", 9);
    pw.passwd = pw.reveal = 1, pw._mktxt2();
    EXPECT_EQ(pw.txt2, "**c");
    pw.onchange = var("enter");
    Event ret = ev(EVT_KEYDOWN, 0, 0, KEY_RETURN);
    EXPECT_EQ(pw.event(&ret).__str__(), "enter");
    Event focus = ev(EVT_FOCUS);
    pw.event(&focus), pw.paint(); // painting without a graphics module draws nothing
    EXPECT_TRUE(pw._pos == 0 && pw.pos == 3) << "focus selects all";
}

} // namespace
