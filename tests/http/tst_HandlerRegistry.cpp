#include "HTTPResponseHandler.h"

#include <QTest>

namespace {

template<quint64 Priority, int Tag>
struct FakeHandler
{
    static constexpr const char *className = "FakeHandler";
    static quint64 priority() { return Priority; }
    static bool canHandleRequest(const HTTPRequest &, const QString &, const RequestURL &url, const HeaderFields &)
    {
        return url.path() == QStringLiteral("/fake/%1").arg(Tag);
    }
};

template<class Fake>
const HandlerClass &fakeClass()
{
    static const HandlerClass descriptor{Fake::className, &Fake::priority, &Fake::canHandleRequest, nullptr};
    return descriptor;
}

} // namespace

class tst_HandlerRegistry : public QObject
{
    Q_OBJECT

private slots:
    void ordersByPriorityThenNewestFirst();
    void consultsInOrderAndFallsBackToTheBase();
};

void tst_HandlerRegistry::ordersByPriorityThenNewestFirst()
{
    const HandlerClass &base = HandlerClass::of<HTTPResponseHandler>();
    const HandlerClass &first = fakeClass<FakeHandler<0, 1>>();
    const HandlerClass &second = fakeClass<FakeHandler<0, 2>>();
    const HandlerClass &urgent = fakeClass<FakeHandler<5, 3>>();
    const HandlerClass &maximal = fakeClass<FakeHandler<~quint64(0), 4>>();

    HandlerRegistry registry;
    registry.registerHandler(base);
    registry.registerHandler(first);
    registry.registerHandler(urgent);
    registry.registerHandler(second);
    registry.registerHandler(maximal);
    registry.registerHandler(first); // twice: stands there twice

    const std::vector<const HandlerClass *> expected{&maximal, &urgent, &first, &second, &first, &base};
    QCOMPARE(registry.classes(), expected);
}

void tst_HandlerRegistry::consultsInOrderAndFallsBackToTheBase()
{
    const HandlerClass &base = HandlerClass::of<HTTPResponseHandler>();
    const HandlerClass &one = fakeClass<FakeHandler<0, 1>>();
    HandlerRegistry registry;
    QCOMPARE(registry.handlerClassForRequest(HTTPRequest(), "GET", RequestURL("/"), {}), nullptr);

    registry.registerHandler(base);
    registry.registerHandler(one);
    QCOMPARE(registry.handlerClassForRequest(HTTPRequest(), "GET", RequestURL("/fake/1"), {}), &one);
    QCOMPARE(registry.handlerClassForRequest(HTTPRequest(), "PUT", RequestURL("/fake/1?q"), {}), &one);
    QCOMPARE(registry.handlerClassForRequest(HTTPRequest(), "GET", RequestURL("/fake/2"), {}), &base);

    // The process-wide registry holds the base from the start, last.
    QVERIFY(!HTTPResponseHandler::registry().classes().empty());
    QCOMPARE(HTTPResponseHandler::registry().classes().back(), &base);
}

QTEST_APPLESS_MAIN(tst_HandlerRegistry)
#include "tst_HandlerRegistry.moc"
