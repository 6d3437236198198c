# Tokens of the small statement language; codes match calc.grammar.
hash 31
def DIGIT [0-9]
def LETTER [A-Za-z_]
token 0 "<error>"
token 1 "<end>"
token 2 "<integer literal>" = {DIGIT}+
token 3 "<identifier>" = {LETTER}({LETTER}|{DIGIT})*
token 4 "+" = "+"
token 5 "-" = "-"
token 6 "*" = "*"
token 7 "/" = "/"
token 8 "(" = "("
token 9 ")" = ")"
token 10 "=" = "="
token 11 ";" = ";"
keyword 12 "LET"
keyword 13 "PRINT"
token 14 "UMINUS"
token 15 "<string literal>" = '([^']|'')*'
skip [ \t\r\n]+
skip "--"[^\n]*
