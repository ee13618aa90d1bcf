// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PropertyListDocument.h"

#include <algorithm>
#include <vector>

// Builds a document's node arena as a reader meets the values in file order. The children of each open container
// wait on a stack and move to the arena in one block when it closes, so that every container's children are
// contiguous there. Nothing changes when a call fails, so a reader may try the same step again.
class PlistTreeBuilder
{
public:
    // Reserves the arena for the most nodes doc.size bytes can hold, so that it never moves.
    explicit PlistTreeBuilder(PropertyListDocument &doc);
    // For the values of the bytes from `firstByte` on, in doc.laterNodes; they start inside a dictionary that
    // another builder has open, which this one stands in for until adopt() takes its entries over.
    PlistTreeBuilder(PropertyListDocument &doc, qsizetype firstByte);

    // Starts a Dictionary or Array; an empty one (<dict/>) is complete at once. False when that would nest deeper
    // than kMaxPlistNestingDepth.
    bool open(PlistNode::Kind kind, bool empty)
    {
        if (m_open.size() >= size_t(kMaxPlistNestingDepth))
            return false;
        PlistNode node;
        node.kind = kind;
        m_pending.push_back(node);
        if (!empty) {
            m_open.push_back({quint32(m_pending.size() - 1), kind});
            m_deepest = std::max(m_deepest, qsizetype(m_open.size()));
        }
        return true;
    }

    // Adds a value that holds no others to the innermost open container, for the caller to fill in where it lies:
    // a node built elsewhere is read back for the copy before its last stores are done, and the copy waits.
    PlistNode &addLeaf() { return m_pending.emplace_back(); }
    // Takes back the value addLeaf() just added.
    void dropLeaf() { m_pending.pop_back(); }

    // Completes the innermost open container; false if it is a dictionary whose last key has no value.
    bool close();

    bool hasOpen() const { return !m_open.empty(); }
    // The kind of the innermost open container.
    PlistNode::Kind openKind() const { return m_open.back().kind; }
    // True when the innermost open container is a dictionary that wants a key next.
    bool expectsKey() const
    {
        const OpenContainer &parent = m_open.back();
        return parent.kind == PlistNode::Dictionary && (m_pending.size() - parent.pendingIndex - 1) % 2 == 0;
    }

    // Once every container is closed: makes the first value read the document's root.
    void finish();

    // How many containers are open, and the most that were open at once.
    qsizetype depth() const { return qsizetype(m_open.size()); }
    qsizetype deepest() const { return m_deepest; }

    // For a builder that stands in for a dictionary, once that dictionary's end tag has been read: what follows is
    // read as further entries of the dictionary that holds it, which is what a library's playlists are to its
    // tracks. False if the last key has no value.
    bool leaveStandIn();
    bool hasLeftStandIn() const { return m_leftStandIn; }
    // Forgets what was read since leaveStandIn().
    void forgetAfterStandIn();

    // Takes over what `later` read, as though this builder had read it: the entries of the dictionary it stood in
    // for, which is the innermost open one here, and after leaveStandIn() that dictionary's end and what followed,
    // containers still open included. Their nodes stay in the later arena. False when the container that holds the
    // dictionary here is not a dictionary that wants a key, so that what followed is not what `later` took it for:
    // that is forgotten, and this builder stands just past the dictionary's end.
    bool adopt(PlistTreeBuilder &later);

private:
    struct OpenContainer
    {
        quint32 pendingIndex; // where the container's own node sits in m_pending
        PlistNode::Kind kind;
    };

    std::vector<PlistNode, HugePageAllocator<PlistNode>> &m_nodes;
    quint32 m_firstIndex; // the index of m_nodes[0] in the document
    quint32 &m_root;
    qsizetype m_deepest = 0;
    std::vector<PlistNode> m_pending;
    std::vector<OpenContainer> m_open;
    // After leaveStandIn(): the entries of the dictionary stood in for, and how many nodes the arena held then.
    bool m_leftStandIn = false;
    std::vector<PlistNode> m_standInEntries;
    size_t m_nodesAtLeaving = 0;
};
