// IDs and the language of the test-only string tables (test_strings.rc).
#pragma once

#define IDS_TEST_BOTH 30000
#define IDS_TEST_ENGLISH_ONLY 30001
#define IDS_TEST_EMPTY_IN_OTHER 30002
#define IDS_TEST_NOWHERE 30003  // inside the test block, in no language
#define IDS_TEST_NO_BLOCK 40000 // no block exists for it at all

// Primary languages 0x200-0x3FF are reserved for user-defined languages.
#define TEST_LANG_PRIMARY 0x3E0
#define TEST_LANG_SUB 1
#define TEST_LANGID ((TEST_LANG_SUB << 10) | TEST_LANG_PRIMARY)
#define TEST_FIRST_ID 30000
