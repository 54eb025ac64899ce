// Control identifiers of the login dialog resource.
#pragma once

#define IDD_LOGIN 101
#define IDC_LOGIN_TEXT 1001
#define IDC_LOGIN_USER 1002
#define IDC_LOGIN_PASSWORD 1003
