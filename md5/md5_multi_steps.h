// The body of a multi-buffer compression kernel, shared by the vector kernels: G groups of
// V::lanes independent MD5 states, one state per 32-bit lane, each advanced by whole blocks.
//
// Only for inclusion by a kernel's own source file, after it defines MD5_MULTI_TARGET (the target
// attribute of its instruction set) and its vector operations V:
//   vec                             the vector type; lanes: its 32-bit lanes
//   add(x, y)                       lane-wise sum
//   broadcast(p)                    every lane *p, loaded from memory as one broadcast load
//   rotl<S>(x)                      every lane rotated left by S bits
//   round<R>(without_b, b, c, d)    the round function of round R: returns the part that needs b
//                                   and may add the part that does not to without_b
//   load(p), store(p, x)            lanes words from or to p
//   load_words(words, data, offset) words[j], lane l = message word j of the block at
//                                   data[l] + offset
// With two or more groups, each step is issued for every group in turn: the groups' dependency
// chains are independent, so a processor whose vector operations take two cycles (or whose
// rotation does, as on AMD family 19h) keeps its units busy with another group's step instead of
// waiting. The message words are kept on the stack and each is read as a memory operand of its
// addition, which costs a load and no vector operation.
//
// Each step's sine constant is one broadcast load from memory, shared by the groups: a pure load,
// where a constant built from an immediate would take a vector operation per step.
#pragma once

#include <cstddef>
#include <cstdint>

#include "md5/md5_steps.h"

namespace {

// A step of round R of one group on (a, b, c, d): a = b + rotl(a + word + sine + f(b, c, d), S).
// The sum of a, word and sine does not need b; it is pinned so that the compiler cannot fold f
// in first.
template <class V, int R, int S>
MD5_MULTI_TARGET inline void multi_step(typename V::vec& a, typename V::vec b, typename V::vec c,
                                        typename V::vec d, const typename V::vec& word,
                                        typename V::vec sine) {
    typename V::vec without_b = V::add(a, V::add(word, sine));
    typename V::vec with_b = V::template round<R>(without_b, b, c, d);
    asm("" : "+v"(without_b));
    a = V::add(V::template rotl<S>(V::add(without_b, with_b)), b);
}

// Step i = 16 R + 4 j + K of every group, for any j: the rotation and the turn of (a, b, c, d)
// repeat every four steps, so only the word and the sine constant depend on j.
template <class V, int G, int R, int K>
MD5_MULTI_TARGET inline void multi_step_groups(typename V::vec (&v)[G][4],
                                               const typename V::vec (&words)[G][16], int i) {
    typename V::vec sine = V::broadcast(&md5_sine[i]);
    int word = md5_word_index[i];
    for (int g = 0; g < G; ++g) {
        multi_step<V, R, md5_shift[16 * R + K]>(v[g][(4 - K) & 3], v[g][(5 - K) & 3],
                                                v[g][(6 - K) & 3], v[g][(7 - K) & 3],
                                                words[g][word], sine);
    }
}

// Round R: four turns of four steps. The turns stay a loop, so that a kernel's code is a
// quarter of the fully unrolled steps': every program digests its own executable at start,
// and the time that takes grows with the executable. Each turn's word is a memory operand.
template <class V, int G, int R>
MD5_MULTI_TARGET inline void multi_round(typename V::vec (&v)[G][4],
                                         const typename V::vec (&words)[G][16]) {
#pragma GCC unroll 1
    for (int i = 16 * R; i < 16 * R + 16; i += 4) {
        multi_step_groups<V, G, R, 0>(v, words, i);
        multi_step_groups<V, G, R, 1>(v, words, i + 1);
        multi_step_groups<V, G, R, 2>(v, words, i + 2);
        multi_step_groups<V, G, R, 3>(v, words, i + 3);
    }
}

// Compresses count blocks into each of the G * V::lanes states: lane l's chaining words are
// state[w * G * V::lanes + l] (w = 0 to 3 for A to D), its blocks start at data[l].
template <class V, int G>
MD5_MULTI_TARGET inline void multi_blocks(uint32_t* state, const uint8_t* const* data,
                                          size_t count) {
    constexpr int lanes = G * V::lanes;
    typename V::vec s[G][4];
    for (int g = 0; g < G; ++g) {
        for (int w = 0; w < 4; ++w) s[g][w] = V::load(state + w * lanes + g * V::lanes);
    }
    for (size_t n = 0; n < count; ++n) {
        typename V::vec words[G][16];
        for (int g = 0; g < G; ++g) V::load_words(words[g], data + g * V::lanes, 64 * n);
        typename V::vec v[G][4];
        for (int g = 0; g < G; ++g) {
            for (int w = 0; w < 4; ++w) v[g][w] = s[g][w];
        }
        multi_round<V, G, 0>(v, words);
        multi_round<V, G, 1>(v, words);
        multi_round<V, G, 2>(v, words);
        multi_round<V, G, 3>(v, words);
        for (int g = 0; g < G; ++g) {
            for (int w = 0; w < 4; ++w) s[g][w] = V::add(s[g][w], v[g][w]);
        }
    }
    for (int g = 0; g < G; ++g) {
        for (int w = 0; w < 4; ++w) V::store(state + w * lanes + g * V::lanes, s[g][w]);
    }
}

} // namespace
