# Tokens of the statement pre-scan: the few words that tell a routine
# definition or a stored-statement prefix from an ordinary SQL statement.
# Any other character is one token of code 0.
hash 40
tokens 19
token 0 "<error>"
token 1 "<end>"
token 2 ":" = ":"
token 3 "?" = "?"
token 4 "identifier" = [A-Za-z_$#][A-Za-z0-9_$#]*|\"([^"]|\"\")*\"
keyword 5 "CALL"
keyword 6 "CREATE"
keyword 7 "EXECUTE"
keyword 8 "FUNCTION"
keyword 9 "METHOD"
keyword 10 "MODULE"
keyword 11 "NO"
keyword 12 "PROCEDURE"
keyword 13 "SCROLL"
keyword 14 "SET"
keyword 15 "STATEMENT"
keyword 16 "TRIGGER"
keyword 17 "TYPE"
skip [ \t\r\n\v\f\0]+
skip "--"[^\n]*
