// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlistTreeBuilder.h"

namespace {

// Every element is at least this long ("<key/>"), which bounds the number of nodes a file can produce.
constexpr qsizetype kShortestElement = 6;

} // namespace

PlistTreeBuilder::PlistTreeBuilder(PropertyListDocument &doc)
    : m_nodes(doc.nodes)
    , m_firstIndex(0)
    , m_root(doc.root)
{
    // An upper bound, so the arena never reallocates; pages that stay unused are never touched.
    m_nodes.reserve(size_t(doc.size / kShortestElement + 1));
    m_pending.reserve(4096);
    m_open.reserve(kMaxPlistNestingDepth + 1);
}

PlistTreeBuilder::PlistTreeBuilder(PropertyListDocument &doc, qsizetype firstByte)
    : m_nodes(doc.laterNodes)
    , m_firstIndex(PropertyListDocument::kLaterNodes)
    , m_root(doc.root)
{
    m_nodes.reserve(size_t((doc.size - firstByte) / kShortestElement + 1));
    m_pending.reserve(4096);
    m_open.reserve(kMaxPlistNestingDepth + 1);
    open(PlistNode::Dictionary, false);
}

bool PlistTreeBuilder::close()
{
    const OpenContainer container = m_open.back();
    const auto firstChild = m_pending.begin() + container.pendingIndex + 1;
    const auto childCount = quint32(m_pending.end() - firstChild);
    if (container.kind == PlistNode::Dictionary && childCount % 2 != 0)
        return false;
    PlistNode &node = m_pending[container.pendingIndex];
    node.a = m_firstIndex + quint32(m_nodes.size());
    node.b = childCount;
    m_nodes.insert(m_nodes.end(), firstChild, m_pending.end());
    m_pending.erase(firstChild, m_pending.end());
    m_open.pop_back();
    return true;
}

void PlistTreeBuilder::finish()
{
    m_root = quint32(m_nodes.size());
    m_nodes.push_back(m_pending.front());
}

bool PlistTreeBuilder::leaveStandIn()
{
    if ((m_pending.size() - 1) % 2 != 0)
        return false;
    m_standInEntries.assign(m_pending.begin() + 1, m_pending.end());
    m_pending.resize(1);
    m_nodesAtLeaving = m_nodes.size();
    m_leftStandIn = true;
    return true;
}

void PlistTreeBuilder::forgetAfterStandIn()
{
    m_pending.resize(1);
    m_open.resize(1);
    m_nodes.resize(m_nodesAtLeaving);
}

bool PlistTreeBuilder::adopt(PlistTreeBuilder &later)
{
    m_deepest = std::max(m_deepest, depth() + later.deepest() - 1);
    if (later.m_leftStandIn) {
        m_pending.insert(m_pending.end(), later.m_standInEntries.begin(), later.m_standInEntries.end());
        close(); // whole entries: leaveStandIn() checked
        if (later.m_pending.size() > 1 && !(hasOpen() && expectsKey())) {
            later.forgetAfterStandIn();
            return false;
        }
    }
    // later.m_pending[0] stands for the container open here.
    const auto shift = quint32(m_pending.size() - 1);
    m_pending.insert(m_pending.end(), later.m_pending.begin() + 1, later.m_pending.end());
    for (auto open = later.m_open.begin() + 1; open != later.m_open.end(); ++open)
        m_open.push_back({open->pendingIndex + shift, open->kind});
    return true;
}
