#include "preprocess/preprocessor.hpp"

namespace vorn::preprocess {

const std::array<std::string_view, 183> DEFAULT_STOPWORDS = {
    "a",       "an",       "the",        "and",      "or",         "but",       "if",        "because",   "as",
    "until",   "while",    "of",         "at",       "by",         "for",       "with",      "about",     "between",
    "into",    "through",  "during",     "before",   "after",      "above",     "below",     "to",        "from",
    "up",      "down",     "in",         "out",      "on",         "off",       "over",      "under",     "again",
    "further", "then",     "once",       "here",     "there",      "when",      "where",     "why",       "how",
    "all",     "each",     "every",      "both",     "few",        "more",      "most",      "other",     "some",
    "such",    "no",       "nor",        "not",      "only",       "own",       "same",      "so",        "than",
    "too",     "very",     "just",       "also",     "am",         "is",        "are",       "was",       "were",
    "be",      "been",     "being",      "have",     "has",        "had",       "having",    "do",        "does",
    "did",     "doing",    "would",      "could",    "should",     "might",     "must",      "shall",     "can",
    "will",    "may",      "need",       "dare",     "ought",      "used",      "this",      "that",      "these",
    "those",   "i",        "me",         "my",       "myself",     "we",        "our",       "ours",      "ourselves",
    "you",     "your",     "yours",      "yourself", "yourselves", "he",        "him",       "his",       "himself",
    "she",     "her",      "hers",       "herself",  "it",         "its",       "itself",    "they",      "them",
    "their",   "theirs",   "themselves", "what",     "which",      "who",       "whom",      "whose",     "any",
    "anyone",  "anything", "anybody",    "everyone", "everything", "everybody", "someone",   "something", "somebody",
    "nobody",  "nothing",  "none",       "neither",  "one",        "two",       "three",     "get",       "got",
    "getting", "make",     "made",       "making",   "take",       "took",      "taking",    "let",       "lets",
    "letting", "like",     "liked",      "likes",    "really",     "actually",  "basically", "probably",  "maybe",
    "perhaps", "quite",    "rather",     "pretty",   "almost",     "nearly",    "hardly",    "scarcely",  "barely",
    "already", "yet",      "still",
};

}  // namespace vorn::preprocess
