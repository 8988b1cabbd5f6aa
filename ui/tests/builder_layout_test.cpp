// Skin parsing and layout geometry, without a window.
#include "ui/tests/ui_test_support.h"

using namespace DirectUI;
using uitest::UiTest;

namespace {

class BuilderTest : public UiTest {
 protected:
  CControlUI* Build(const std::string& xml, int w = 300, int h = 200) {
    pm.SetDPIScale(100);
    CDialogBuilder b;
    CControlUI* root = b.CreateFromText(xml, "test.xml", nullptr, &pm);
    error = b.GetLastError();
    if (root) {
      pm.AttachDialog(root);
      pm.SetClientSizeForTest({w, h});
    }
    return root;
  }
  RECT Pos(const std::string& name) {
    CControlUI* c = pm.FindControl(name);
    EXPECT_NE(c, nullptr) << name;
    return c ? c->GetPos() : RECT{};
  }
  CPaintManagerUI pm;
  std::string error;
};

}  // namespace

TEST_F(BuilderTest, WindowFontsDefaultsAndCustomAttributes) {
  ASSERT_NE(Build(R"(<Window size="640,480" caption="0,0,0,30" mininfo="400,300" roundcorner="6,6">
      <Font id="3" name="Noto Sans CJK SC" size="18" bold="true" italic="true"/>
      <Default name="Button" value="textcolor=&quot;#FF112233&quot; height=&quot;30&quot;"/>
      <VerticalLayout>
        <Button name="btnSource" code="en" text="英语" tooltip="源语言" font="3"/>
        <Button name="b2" textcolor="#FF445566"/>
      </VerticalLayout></Window>)"),
            nullptr) << error;
  EXPECT_EQ(pm.GetInitSize(), (SIZE{640, 480}));
  EXPECT_EQ(pm.GetCaptionRect(), (RECT{0, 0, 0, 30}));
  EXPECT_EQ(pm.GetMinInfo(), (SIZE{400, 300}));
  EXPECT_EQ(pm.GetRoundCorner(), (SIZE{6, 6}));
  const TFontInfo* f = pm.GetFontInfo(3);
  EXPECT_EQ(f->size, 18);
  EXPECT_TRUE(f->bold);
  EXPECT_TRUE(f->italic);
  EXPECT_FALSE(f->underline);

  auto* btn = static_cast<CButtonUI*>(pm.FindControl("btnSource"));
  ASSERT_NE(btn, nullptr);
  EXPECT_EQ(btn->GetText(), "英语");
  EXPECT_EQ(btn->GetToolTip(), "源语言");
  EXPECT_EQ(btn->GetFont(), 3);
  EXPECT_EQ(btn->GetTextColor(), 0xFF112233u);  // from the class default
  EXPECT_EQ(btn->GetFixedHeight(), 30);
  EXPECT_EQ(static_cast<CButtonUI*>(pm.FindControl("b2"))->GetTextColor(), 0xFF445566u);  // own value wins
  // Unknown attributes are kept: the language code lives there.
  EXPECT_EQ(btn->GetCustomAttribute("code"), "en");
  EXPECT_TRUE(btn->RemoveCustomAttribute("code"));
  EXPECT_EQ(btn->GetCustomAttribute("code"), "");
  btn->AddCustomAttribute("code", "zh");
  EXPECT_EQ(btn->GetCustomAttribute("code"), "zh");
}

TEST_F(BuilderTest, IncludeAndLookupsBySubtreeAndClass) {
  skin.Write("part.xml", R"(<HorizontalLayout name="inc_row"><Option name="o1" code="a"/><Option name="o2" code="b"/></HorizontalLayout>)");
  ASSERT_NE(Build(R"(<Window><VerticalLayout name="root">
      <VerticalLayout name="left"><Label name="same"/><Include source="part.xml"/></VerticalLayout>
      <VerticalLayout name="right"><Label name="same" text="right one"/></VerticalLayout>
      </VerticalLayout></Window>)"),
            nullptr)
      << error;
  EXPECT_NE(pm.FindControl("inc_row"), nullptr);
  auto options = pm.FindSubControlsByClass(pm.GetRoot(), "OptionUI");
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0]->GetCustomAttribute("code"), "a");
  EXPECT_EQ(options[1]->GetCustomAttribute("code"), "b");
  CControlUI* right = pm.FindControl("right");
  ASSERT_NE(right, nullptr);
  EXPECT_EQ(pm.FindSubControlByName(right, "same")->GetText(), "right one");
  EXPECT_EQ(pm.FindControl("missing"), nullptr);
  EXPECT_NE(pm.GetRoot()->GetInterface("VerticalLayout"), nullptr);
  EXPECT_EQ(pm.GetRoot()->GetInterface("HorizontalLayout"), nullptr);
}

TEST_F(BuilderTest, MalformedMarkupNamesFileAndLine) {
  EXPECT_EQ(Build("<Window>\n<VerticalLayout>\n<Label name=\"x\">\n</Window>"), nullptr);
  EXPECT_EQ(error.rfind("test.xml:4:", 0), 0u) << error;

  EXPECT_EQ(Build("<Window>\n  <VerticalLayout>\n    <Frobnicator/>\n  </VerticalLayout>\n</Window>"), nullptr);
  EXPECT_EQ(error.rfind("test.xml:3:", 0), 0u) << error;
  EXPECT_NE(error.find("Frobnicator"), std::string::npos);

  EXPECT_EQ(Build("<Window><Label><Label/></Label></Window>"), nullptr);
  EXPECT_NE(error.find("cannot hold children"), std::string::npos) << error;

  EXPECT_EQ(Build("<Window><VerticalLayout><Include source=\"nope.xml\"/></VerticalLayout></Window>"), nullptr);
  EXPECT_NE(error.find("nope.xml"), std::string::npos) << error;

  // A failure after the root was built: the root goes too (the sanitizer
  // build reports it as a leak otherwise).
  EXPECT_EQ(Build("<Window><VerticalLayout/><Frobnicator/></Window>"), nullptr);
  EXPECT_NE(error.find("more than one root"), std::string::npos) << error;
  EXPECT_EQ(Build("<Window><VerticalLayout/><Include source=\"nope.xml\"/></Window>"), nullptr);
  EXPECT_NE(error.find("nope.xml"), std::string::npos) << error;

  CDialogBuilder b;
  EXPECT_EQ(b.Create("no_such_file.xml", nullptr, &pm), nullptr);
  EXPECT_TRUE(b.FileMissing());
}

TEST_F(BuilderTest, IncludeCycleIsStopped) {
  skin.Write("loop.xml", R"(<VerticalLayout><Include source="loop.xml"/></VerticalLayout>)");
  EXPECT_EQ(Build(R"(<Window><VerticalLayout><Include source="loop.xml"/></VerticalLayout></Window>)"), nullptr);
  EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
}

TEST_F(BuilderTest, DeepOrHugeSkinsAreRefusedWithTheirPlace) {
  const auto layouts = [](int levels, const std::string& middle = "") {
    std::string xml;
    for (int i = 0; i < levels; ++i) xml += "<VerticalLayout>";
    xml += middle;
    for (int i = 0; i < levels; ++i) xml += "</VerticalLayout>";
    return xml;
  };
  ASSERT_NE(Build("<Window>" + layouts(200) + "</Window>"), nullptr) << error;
  for (const int levels : {256, 50000}) {
    EXPECT_EQ(Build("<Window>" + layouts(levels) + "</Window>"), nullptr) << levels;
    EXPECT_EQ(error.rfind("test.xml:1:", 0), 0u) << error;
    EXPECT_NE(error.find("nested deeper than 256"), std::string::npos) << error;
  }
  // Depth built up across included files counts too.
  skin.Write("deep.xml", layouts(200));
  EXPECT_EQ(Build("<Window>" + layouts(100, R"(<Include source="deep.xml"/>)") + "</Window>"), nullptr);
  EXPECT_EQ(error.rfind("deep.xml:1:", 0), 0u) << error;
  EXPECT_NE(error.find("controls nested deeper than 256"), std::string::npos) << error;

  EXPECT_EQ(Build("<Window>\n  <Include source=\"deep.xml\" count=\"2000000000\"/>\n</Window>"), nullptr);
  EXPECT_EQ(error.rfind("test.xml:2:", 0), 0u) << error;
  EXPECT_NE(error.find("include count over"), std::string::npos) << error;

  // Includes that build nothing still count: 1000 x 1000 x 1000 would never end.
  skin.Write("none.xml", "<Window/>");
  skin.Write("mid.xml", R"(<Window><Include source="none.xml" count="1000"/></Window>)");
  skin.Write("top.xml", R"(<Window><Include source="mid.xml" count="1000"/></Window>)");
  EXPECT_EQ(Build(R"(<Window><Include source="top.xml" count="1000"/></Window>)"), nullptr);
  EXPECT_NE(error.find("more than 100000 controls and includes"), std::string::npos) << error;
}

TEST_F(BuilderTest, HugeNumbersAreClampedBeforeTheyAreScaled) {
  CDialogBuilder b;
  pm.SetDPIScale(200);
  CControlUI* root = b.CreateFromText(
      R"(<Window size="-5,99999999"><Control name="c" width="99999999999" height="4294967296"/></Window>)",
      "test.xml", nullptr, &pm);
  ASSERT_NE(root, nullptr) << b.GetLastError();
  EXPECT_EQ(pm.GetInitSize(), (SIZE{-10, 2000000}));
  EXPECT_EQ(root->GetFixedWidth(), 1000000);
  EXPECT_EQ(root->GetFixedHeight(), 1000000);  // not wrapped to 0
  delete root;
}

TEST_F(BuilderTest, VerticalFixedFlexiblePaddedAndFloating) {
  ASSERT_NE(Build(R"(<Window><VerticalLayout name="v" inset="10,10,10,10" childpadding="5">
      <Control name="fixed" height="40"/>
      <Control name="flex1"/>
      <Control name="padded" height="20" width="100" padding="3,4,0,6"/>
      <Control name="flex2"/>
      <Control name="floating" float="true" pos="50,60,80,75"/>
      <Control name="hidden" height="500" visible="false"/>
      </VerticalLayout></Window>)",
                  300, 200),
            nullptr)
      << error;
  // Content box 280 x 180; fixed 40 + (4+20+6) + 3 gaps of 5 = 85; flexible share (180-85)/2.
  EXPECT_EQ(Pos("fixed"), (RECT{10, 10, 290, 50}));
  EXPECT_EQ(Pos("flex1"), (RECT{10, 55, 290, 103}));
  EXPECT_EQ(Pos("padded"), (RECT{13, 112, 113, 132}));
  EXPECT_EQ(Pos("flex2"), (RECT{10, 143, 290, 190}));
  // Floating children sit at their own position relative to the parent.
  EXPECT_EQ(Pos("floating"), (RECT{50, 60, 80, 75}));
}

TEST_F(BuilderTest, HorizontalMinMaxAndDpiScale) {
  ASSERT_NE(Build(R"(<Window><HorizontalLayout childpadding="10">
      <Control name="a" width="50"/>
      <Control name="b" maxwidth="60"/>
      <Control name="c"/>
      <Control name="d" height="30"/>
      </HorizontalLayout></Window>)",
                  400, 100),
            nullptr)
      << error;
  // 400 - 50 - 3*10 = 320 for three flexible items; b is capped at 60, c and d share 260.
  EXPECT_EQ(Pos("a"), (RECT{0, 0, 50, 100}));
  EXPECT_EQ(Pos("b"), (RECT{60, 0, 120, 100}));
  EXPECT_EQ(Pos("c"), (RECT{130, 0, 260, 100}));
  EXPECT_EQ(Pos("d"), (RECT{270, 0, 400, 30}));

  // Skin units are unscaled: at 150 % the fixed width becomes 75.
  pm.SetDPIScale(150);
  pm.SetClientSizeForTest({600, 150});
  EXPECT_EQ(Pos("a").Width(), 75);
  EXPECT_EQ(pm.FindControl("a")->GetFixedWidth(), 75);
  EXPECT_EQ(Pos("d").Height(), 45);
}

TEST_F(BuilderTest, ScrollingWhenContentOverflows) {
  ASSERT_NE(Build(R"(<Window><VerticalLayout name="v" vscrollbar="true">
      <Control name="a" height="80"/><Control name="b" height="80"/><Control name="c" height="80"/>
      </VerticalLayout></Window>)",
                  100, 100),
            nullptr);
  auto* v = static_cast<CContainerUI*>(pm.FindControl("v"));
  EXPECT_EQ(v->GetScrollRange().cy, 140);
  v->SetScrollPos({0, 100});
  EXPECT_EQ(Pos("b").top, -20);
  v->SetScrollPos({0, 1000});  // clamped to the range
  EXPECT_EQ(v->GetScrollPos().cy, 140);
}

TEST_F(BuilderTest, TabLayoutSelectsOneItem) {
  ASSERT_NE(Build(R"(<Window><TabLayout name="tab" selectedid="1">
      <Control name="t0"/><Control name="t1"/><Control name="t2"/></TabLayout></Window>)"),
            nullptr);
  uitest::Recorder rec;
  pm.AddNotifier(&rec);
  auto* tab = static_cast<CTabLayoutUI*>(pm.FindControl("tab"));
  EXPECT_EQ(tab->GetCurSel(), 1);
  EXPECT_TRUE(tab->SelectItem(2));
  pm.UpdateLayout();
  EXPECT_EQ(tab->GetCurSel(), 2);
  EXPECT_FALSE(pm.FindControl("t1")->IsVisible());
  EXPECT_TRUE(pm.FindControl("t2")->IsVisible());
  EXPECT_EQ(Pos("t2"), (RECT{0, 0, 300, 200}));
  EXPECT_EQ(rec.Count("tabselect", "tab"), 1);
  EXPECT_FALSE(tab->SelectItem(3));
  EXPECT_FALSE(tab->SelectItem(-1));
  EXPECT_EQ(tab->GetCurSel(), 2);
  pm.RemoveNotifier(&rec);
}

TEST_F(BuilderTest, OptionGroupsReportOnlyBecomingSelected) {
  ASSERT_NE(Build(R"(<Window><VerticalLayout>
      <Option name="g1" group="g" selected="true"/><Option name="g2" group="g"/><Option name="g3" group="g"/>
      <Option name="solo"/></VerticalLayout></Window>)"),
            nullptr);
  uitest::Recorder rec;
  pm.AddNotifier(&rec);
  auto opt = [&](const char* n) { return static_cast<COptionUI*>(pm.FindControl(n)); };
  opt("g2")->Selected(true);
  EXPECT_TRUE(opt("g2")->IsSelected());
  EXPECT_FALSE(opt("g1")->IsSelected());
  EXPECT_EQ(rec.Count("selectchanged"), 1);  // g1 losing its selection says nothing
  EXPECT_EQ(rec.Count("selectchanged", "g2"), 1);
  opt("g2")->Selected(true);  // no change, no report
  EXPECT_EQ(rec.Count("selectchanged"), 1);
  // A click on a selected grouped option keeps it selected.
  opt("g2")->Activate();
  EXPECT_TRUE(opt("g2")->IsSelected());
  EXPECT_EQ(rec.Count("click", "g2"), 1);
  // An ungrouped option reports both ways.
  opt("solo")->Activate();
  opt("solo")->Activate();
  EXPECT_FALSE(opt("solo")->IsSelected());
  EXPECT_EQ(rec.Count("selectchanged", "solo"), 2);
  pm.RemoveNotifier(&rec);
}

TEST_F(BuilderTest, ImageAttributeForms) {
  TImageInfo bare = TImageInfo::Parse("mainWnd/icon.png");
  EXPECT_EQ(bare.file, "mainWnd/icon.png");
  EXPECT_FALSE(bare.hasDest);
  TImageInfo full = TImageInfo::Parse("file='/tmp/a b.png' dest='10,10,34,34' source='1,2,3,4' corner='2,2,2,2' fade='300'");
  EXPECT_EQ(full.file, "/tmp/a b.png");
  EXPECT_TRUE(full.hasDest);
  EXPECT_EQ(full.dest, (RECT{10, 10, 34, 34}));
  EXPECT_EQ(full.source, (RECT{1, 2, 3, 4}));
  EXPECT_EQ(full.corner, (RECT{2, 2, 2, 2}));
  EXPECT_EQ(full.fade, 255);  // clamped
}

TEST_F(BuilderTest, RemovedControlsLeaveNoDanglingLookups) {
  ASSERT_NE(Build(R"(<Window><VerticalLayout name="v"><Button name="gone"/><Button name="stays"/></VerticalLayout></Window>)"),
            nullptr);
  auto* v = static_cast<CContainerUI*>(pm.FindControl("v"));
  CControlUI* gone = pm.FindControl("gone");
  pm.SetTimer(gone, 1, 1000);
  pm.SetFocus(gone);
  TNotifyUI queued;
  queued.pSender = gone;
  queued.sType = "later";
  pm.SendNotify(queued, true);  // no window: stays queued
  EXPECT_TRUE(v->Remove(gone));
  EXPECT_EQ(pm.FindControl("gone"), nullptr);
  EXPECT_EQ(pm.GetFocus(), nullptr);
  EXPECT_FALSE(pm.HasTimer(gone, 1));
  uitest::Recorder rec;
  pm.AddNotifier(&rec);
  pm.DeliverAsyncNotifications();
  EXPECT_EQ(rec.Count("later"), 0);  // dropped with its sender
  pm.RemoveNotifier(&rec);
}

TEST_F(BuilderTest, FactoryCreatesProgramClassesAndMayReplaceTexts) {
  struct Factory : IDialogBuilderCallback, IQueryControlText {
    std::vector<std::string> asked;
    CControlUI* CreateControl(const std::string& cls) override {
      asked.push_back(cls);
      if (cls == "DocTransPage") {
        auto* page = new CVerticalLayoutUI;
        page->SetName("page");
        return page;
      }
      return nullptr;
    }
    std::string QueryControlText(const std::string& text, const std::string&) override {
      return text == "%VER%" ? "V1.0.0" : std::string();
    }
  } factory;
  pm.SetDPIScale(100);
  CDialogBuilder b;
  CControlUI* root = b.CreateFromText(R"(<Window><VerticalLayout>
      <DocTransPage><Label name="ver" text="%VER%"/><Label name="plain" text="keep"/></DocTransPage>
      </VerticalLayout></Window>)",
                                      "factory.xml", &factory, &pm);
  ASSERT_NE(root, nullptr) << b.GetLastError();
  pm.AttachDialog(root);
  // Only unknown classes reach the factory.
  EXPECT_EQ(factory.asked, std::vector<std::string>{"DocTransPage"});
  EXPECT_EQ(pm.FindControl("ver")->GetText(), "V1.0.0");
  EXPECT_EQ(pm.FindControl("plain")->GetText(), "keep");
  EXPECT_EQ(pm.FindControl("ver")->GetParent(), pm.FindControl("page"));
}

TEST_F(BuilderTest, LoadChecksAWholeSkinAndItsTreeBuildsWithoutReadingFiles) {
  struct Factory : IDialogBuilderCallback {
    std::vector<std::string> asked;
    CControlUI* CreateControl(const std::string& cls) override {
      asked.push_back(cls);
      return cls == "Page" ? new CVerticalLayoutUI : nullptr;
    }
  } factory;
  skin.Write("row.xml", R"(<HorizontalLayout><Page name="p"><Label name="l"/></Page></HorizontalLayout>)");
  skin.Write("good.xml", R"(<VerticalLayout><Include source="row.xml"/><Include source="row.xml"/><Page/></VerticalLayout>)");
  // What a build would refuse, Load refuses without building anything.
  const std::pair<const char*, const char*> damaged[] = {
      {"<VerticalLayout><Frobnicator/></VerticalLayout>", "Frobnicator"},
      {"<VerticalLayout><Label><Label/></Label></VerticalLayout>", "cannot hold children"},
      {R"(<VerticalLayout><Include source="nope.xml"/></VerticalLayout>)", "nope.xml"},
      {"<VerticalLayout><Label>", "bad.xml:1:"},
      {"<Window><Label/><Label/></Window>", "more than one root"},
      {"<Window/>", "no control"},
  };
  CDialogBuilder b;
  for (const auto& [xml, expected] : damaged) {
    SCOPED_TRACE(xml);
    skin.Write("bad.xml", xml);
    EXPECT_EQ(b.Load("bad.xml", &factory, &pm), nullptr);
    EXPECT_NE(b.GetLastError().find(expected), std::string::npos) << b.GetLastError();
  }
  EXPECT_EQ(b.Load("missing.xml", &factory, &pm), nullptr);
  EXPECT_TRUE(b.FileMissing());

  factory.asked.clear();
  auto tree = b.Load("good.xml", &factory, &pm);
  ASSERT_NE(tree, nullptr) << b.GetLastError();
  EXPECT_EQ(factory.asked, std::vector<std::string>{"Page"});  // one probe per class
  std::filesystem::remove(skin.Path("row.xml"));
  std::filesystem::remove(skin.Path("good.xml"));
  for (int i = 0; i < 2; ++i) {
    CControlUI* root = b.Create(*tree, &factory, &pm);
    ASSERT_NE(root, nullptr) << b.GetLastError();
    auto* layout = static_cast<CContainerUI*>(root->GetInterface("Container"));
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->GetCount(), 3);
    EXPECT_EQ(pm.FindSubControlsByClass(root, "LabelUI").size(), 2u);
    delete root;
  }
}

TEST_F(BuilderTest, MarkupValuesReadAsXmlDefinesThem) {
  ASSERT_NE(Build("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- a <Label> in a comment -->\n"
                  "<Window><VerticalLayout name = 'v'>\n"
                  "  <Label name=\"a\" text=\"&lt;b&gt; &amp; &quot;q&quot; &apos;s&apos; &#20013;&#x6587;\"/>\n"
                  "  <Label name=\"b\" text=\"two\nlines\ttab\"/><![CDATA[ <Frobnicator/> ]]>text\n"
                  "  <Label name=\"c\" text='文档 \"x\"'></Label>\n"
                  "</VerticalLayout></Window>\n<!-- after -->\n"),
            nullptr)
      << error;
  EXPECT_EQ(pm.FindControl("a")->GetText(), "<b> & \"q\" 's' 中文");
  EXPECT_EQ(pm.FindControl("b")->GetText(), "two lines tab");
  EXPECT_EQ(pm.FindControl("c")->GetText(), "文档 \"x\"");
  EXPECT_NE(pm.FindControl("v"), nullptr);

  const std::pair<std::string, std::string> broken[] = {
      {"<Window>\n<Label/>\n</Windo>", "test.xml:3:"},
      {"<Window>\n<Label text=\"a\" text=\"b\"/></Window>", "test.xml:2:"},
      {"<Window><Label text=\"a<b\"/></Window>", "'<'"},
      {"<Window><Label text=\"&nbsp;\"/></Window>", "entity"},
      {"<Window><Label text=\"&#0;\"/></Window>", "character reference"},
      {"<Window><Label text=\"&;\"/></Window>", "entity"},
      {"<Window><Label text=\"&#;\"/></Window>", "entity"},
      {"<Window><Label text=\"&#x;\"/></Window>", "entity"},
      {"<Window><Label text=\"a\"", "premature end"},
      {"<Window><Label/></Window><Window/>", "more than one root"},
      {"<Window/>junk", "outside the root"},
      {"<!DOCTYPE x [<!ENTITY a \"b\">]><Window/>", "declarations"},
      {"<Window><Label text=\"\xC3\x28\"/></Window>", "UTF-8"},
      {"<Window><Label text=\"a\x01\"/></Window>", "UTF-8"},
      {"<Window><!-- open", "premature end"},
      {"", "no element"},
  };
  for (const auto& [xml, expected] : broken) {
    SCOPED_TRACE(xml);
    EXPECT_EQ(Build(xml), nullptr);
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_EQ(error.rfind("test.xml:", 0), 0u) << error;
  }

  // A bad byte is found wherever it falls in a long run of plain text, and
  // named by its column.
  const std::string head = "<Window><Label text=\"";
  for (const std::string bad : {"\x01", "\x1F", "\x80", "\xFF", "\xC3\x28", "\xE4\xB8"}) {
    for (size_t at = 0; at < 20; ++at) {
      SCOPED_TRACE(testing::Message() << "byte " << int(static_cast<unsigned char>(bad[0])) << " at " << at);
      const std::string xml = head + std::string(at, 'a') + bad + std::string(20 - at, 'b') + "\"/></Window>";
      EXPECT_EQ(Build(xml), nullptr);
      EXPECT_EQ(error.rfind("test.xml:1:" + std::to_string(head.size() + at + 1) + ":", 0), 0u) << error;
    }
  }
  // Long runs around characters that are not ASCII read whole.
  const std::string text = std::string(13, 'a') + "中文" + std::string(9, 'b') + " \x7F";
  ASSERT_NE(Build(head + text + "\" name=\"long\"/></Window>"), nullptr) << error;
  EXPECT_EQ(pm.FindControl("long")->GetText(), text);
}
