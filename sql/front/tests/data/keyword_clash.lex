# Two keywords in a hash table of one slot.
hash 1
token 2 "<identifier>" = [A-Z]+
keyword 3 "ONE"
keyword 4 "TWO"
