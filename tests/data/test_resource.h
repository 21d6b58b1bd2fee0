// Identifiers of the test resource script.
#define IDD_TEST 103
#define IDR_TEST_MENU 130
#define IDM_OK 0x800D
#define IDM_ABOUT 0x800C
#define IDC_ENABLED 1000
#define IDC_LIST 1001
#define IDR_LANGUAGES 200
